// Removing a folder tree without ever following a link: the rules of
// DeleteTree over a small file-system seam, so that junctions and symbolic
// links can be tested where the system cannot make them.
#pragma once
#include <string>
#include <vector>

struct TreeEntry {
  std::string name;     // file name only (in listings)
  bool folder = false;
  bool hidden = false;  // hidden or system
  bool link = false;    // a reparse point: junction, symbolic link, mount point
};

class TreeFs {
 public:
  virtual ~TreeFs() = default;
  // What is at the path itself (a link is reported, not its target); false when nothing is there.
  virtual bool Stat(const std::string& path, TreeEntry& what) = 0;
  // The entries of a folder, without "." and "..".
  virtual std::vector<TreeEntry> List(const std::string& folder) = 0;
  virtual void ClearAttributes(const std::string& path) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;    // a file, or a file link itself
  virtual bool RemoveFolder(const std::string& path) = 0;  // an empty folder, or a folder link itself
  virtual char Separator() { return '\\'; }
};

// Deletes the files of `folder` and its sub-folders, then the folders. A
// link, the given folder included, is removed as a link and never entered;
// its attributes are left alone (changing them would reach the target).
// Hidden or system sub-folders are kept. True when the folder existed
// before and is gone afterwards.
bool DeleteTreeWith(TreeFs& fs, const std::string& folder, bool clearAttributes);
