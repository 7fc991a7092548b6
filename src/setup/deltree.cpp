#include "setup/deltree.h"

bool DeleteTreeWith(TreeFs& fs, const std::string& folder, bool clearAttributes) {
  if (folder.empty()) return false;
  TreeEntry self;
  if (!fs.Stat(folder, self) || !self.folder) return false;
  if (self.link) {
    // A junction planted in place of the folder: drop the link, keep what it points at.
    fs.RemoveFolder(folder);
    return !fs.Stat(folder, self);
  }
  const std::string prefix = folder + fs.Separator();
  std::vector<TreeEntry> entries = fs.List(folder);
  for (const TreeEntry& e : entries) {
    if (e.folder) continue;
    std::string p = prefix + e.name;
    if (clearAttributes && !e.link) fs.ClearAttributes(p);
    fs.RemoveFile(p);
  }
  for (const TreeEntry& e : entries) {
    if (!e.folder || e.hidden) continue;
    std::string p = prefix + e.name;
    // The sub-folder is looked at again when entered: it may have become a link since the listing.
    if (!e.link) DeleteTreeWith(fs, p, clearAttributes);
    TreeEntry now;
    if (!fs.Stat(p, now)) continue;
    if (clearAttributes && !now.link) fs.ClearAttributes(p);
    fs.RemoveFolder(p);
  }
  // The folder itself, unless it was swapped for a link meanwhile (RemoveFolder then drops only the link).
  fs.RemoveFolder(folder);
  return !fs.Stat(folder, self);
}
