// File operations of the store that must survive a crash in any order:
// everything is written under a temporary name, synced, then renamed.
#pragma once

#include <string>
#include <vector>

namespace tvserver {

// fsync of a file or a directory by path; false with a message in error.
bool SyncPath(const std::string& path, std::string& error);
// mkdir that accepts an existing directory.
bool MakeDir(const std::string& path, std::string& error);
// Copies from into a new file to (created, not replaced) and syncs it.
bool CopyFileSynced(const std::string& from, const std::string& to, std::string& error);
// Writes text into a new file and syncs it.
bool WriteFileSynced(const std::string& path, const std::string& text, std::string& error);
bool ReadSmallFile(const std::string& path, std::string& text);
// Names in a directory, without "." and "..".
std::vector<std::string> ListDir(const std::string& path);
// Removes a directory and everything below it (no symlink is followed).
void RemoveTree(const std::string& path);

} // namespace tvserver
