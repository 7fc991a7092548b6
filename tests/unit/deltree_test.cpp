// DeleteTree's rules over an in-memory file system whose links behave like
// junctions and symbolic links: entering one reaches its target.
#include "setup/deltree.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

class FakeFs : public TreeFs {
 public:
  struct Node {
    bool folder = false;
    bool hidden = false;
    bool readOnly = false;
    std::string linkTo;  // not empty: a link to that path
  };

  void Folder(const std::string& p, bool hidden = false) { nodes[p] = Node{true, hidden, false, ""}; }
  void File(const std::string& p, bool readOnly = false) { nodes[p] = Node{false, false, readOnly, ""}; }
  void Link(const std::string& p, const std::string& target, bool folder = true) {
    nodes[p] = Node{folder, false, false, target};
  }
  bool Has(const std::string& p) const { return nodes.count(p) != 0; }

  char Separator() override { return '/'; }
  bool Stat(const std::string& path, TreeEntry& what) override {
    auto it = nodes.find(Resolve(Parent(path)) + "/" + Name(path));
    if (Parent(path).empty()) it = nodes.find(path);
    if (it == nodes.end()) return false;
    what.folder = it->second.folder;
    what.hidden = it->second.hidden;
    what.link = !it->second.linkTo.empty();
    return true;
  }
  std::vector<TreeEntry> List(const std::string& folder) override {
    std::string real = Resolve(folder);
    std::vector<TreeEntry> out;
    for (auto& [p, n] : nodes)
      if (Parent(p) == real) out.push_back(TreeEntry{Name(p), n.folder, n.hidden, !n.linkTo.empty()});
    if (onList) onList(folder);
    return out;
  }
  void ClearAttributes(const std::string& path) override {
    // Like the system: the attributes of a link's target change.
    auto it = nodes.find(Resolve(path));
    if (it != nodes.end()) it->second.readOnly = false;
  }
  bool RemoveFile(const std::string& path) override {
    std::string p = Resolve(Parent(path)) + "/" + Name(path);
    auto it = nodes.find(p);
    if (it == nodes.end() || (it->second.folder && it->second.linkTo.empty()) || it->second.readOnly) return false;
    nodes.erase(it);
    return true;
  }
  bool RemoveFolder(const std::string& path) override {
    std::string p = Parent(path).empty() ? path : Resolve(Parent(path)) + "/" + Name(path);
    auto it = nodes.find(p);
    if (it == nodes.end() || !it->second.folder) return false;
    if (it->second.linkTo.empty())
      for (auto& [q, n] : nodes)
        if (Parent(q) == p) return false;
    nodes.erase(it);  // a link goes as a link
    return true;
  }

  std::map<std::string, Node> nodes;
  std::function<void(const std::string&)> onList;

 private:
  static std::string Parent(const std::string& p) {
    size_t s = p.rfind('/');
    return s == std::string::npos || s == 0 ? std::string() : p.substr(0, s);
  }
  static std::string Name(const std::string& p) { return p.substr(p.rfind('/') + 1); }
  // The real path behind links anywhere in p.
  std::string Resolve(const std::string& p) const {
    if (p.empty()) return p;
    std::string parent = Parent(p);
    std::string here = parent.empty() ? p : Resolve(parent) + "/" + Name(p);
    auto it = nodes.find(here);
    return it != nodes.end() && !it->second.linkTo.empty() ? Resolve(it->second.linkTo) : here;
  }
};

// Files someone else owns, reachable through a link.
void Victim(FakeFs& fs) {
  fs.Folder("/victim");
  fs.File("/victim/secret.txt", true);
  fs.Folder("/victim/sub");
  fs.File("/victim/sub/data.bin");
}

void ExpectVictimIntact(const FakeFs& fs) {
  EXPECT_TRUE(fs.Has("/victim/secret.txt"));
  EXPECT_TRUE(fs.Has("/victim/sub/data.bin"));
  EXPECT_TRUE(fs.nodes.at("/victim/secret.txt").readOnly) << "attributes changed through a link";
}

TEST(DeleteTree, PlainTreeGoesWholeAndReadOnlyFilesNeedTheFlag) {
  for (bool clear : {true, false}) {
    FakeFs fs;
    fs.Folder("/t");
    fs.File("/t/a.txt");
    fs.File("/t/ro.txt", true);
    fs.Folder("/t/sub");
    fs.File("/t/sub/b.txt");
    fs.Folder("/t/sub/deeper");
    EXPECT_EQ(DeleteTreeWith(fs, "/t", clear), clear);
    EXPECT_EQ(fs.Has("/t/ro.txt"), !clear);
    EXPECT_FALSE(fs.Has("/t/a.txt"));
    EXPECT_FALSE(fs.Has("/t/sub"));
  }
}

TEST(DeleteTree, LinksAreRemovedAsLinksAtEveryLevel) {
  struct Case {
    const char* what;
    std::function<void(FakeFs&)> make;
  } cases[] = {
      {"the given folder is a junction", [](FakeFs& fs) { fs.Link("/t", "/victim"); }},
      {"a sub-folder is a junction",
       [](FakeFs& fs) {
         fs.Folder("/t");
         fs.Link("/t/j", "/victim");
       }},
      {"a deeper sub-folder is a junction",
       [](FakeFs& fs) {
         fs.Folder("/t");
         fs.Folder("/t/a");
         fs.Link("/t/a/j", "/victim");
       }},
      {"a file link",
       [](FakeFs& fs) {
         fs.Folder("/t");
         fs.Link("/t/f.lnk", "/victim/secret.txt", false);
       }},
  };
  for (const Case& c : cases) {
    FakeFs fs;
    Victim(fs);
    c.make(fs);
    EXPECT_TRUE(DeleteTreeWith(fs, "/t", true)) << c.what;
    EXPECT_FALSE(fs.Has("/t")) << c.what;
    ExpectVictimIntact(fs);
  }
}

TEST(DeleteTree, SubFolderSwappedForALinkAfterTheListingIsNotEntered) {
  FakeFs fs;
  Victim(fs);
  fs.Folder("/t");
  fs.Folder("/t/sub");
  fs.File("/t/sub/x.txt");
  fs.onList = [&](const std::string& folder) {
    if (folder != "/t") return;
    fs.onList = nullptr;
    fs.nodes.erase("/t/sub/x.txt");
    fs.nodes.erase("/t/sub");
    fs.Link("/t/sub", "/victim");
  };
  EXPECT_TRUE(DeleteTreeWith(fs, "/t", true));
  ExpectVictimIntact(fs);
}

TEST(DeleteTree, HiddenSubFoldersStayAndMissingFoldersChangeNothing) {
  FakeFs fs;
  fs.Folder("/t");
  fs.File("/t/a.txt");
  fs.Folder("/t/h", true);
  fs.File("/t/h/keep.txt");
  EXPECT_FALSE(DeleteTreeWith(fs, "/t", true));
  EXPECT_TRUE(fs.Has("/t/h/keep.txt"));
  EXPECT_FALSE(fs.Has("/t/a.txt"));

  size_t before = fs.nodes.size();
  EXPECT_FALSE(DeleteTreeWith(fs, "/none", true));
  EXPECT_FALSE(DeleteTreeWith(fs, "", true));
  fs.File("/file");
  EXPECT_FALSE(DeleteTreeWith(fs, "/file", true));
  EXPECT_EQ(fs.nodes.size(), before + 1);
}

}  // namespace
