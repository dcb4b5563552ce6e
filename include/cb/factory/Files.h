#pragma once
// The file-system and environment utilities of signature and plug-in loading.
// Nothing else in the library talks to the directory or environment calls.
// Every path they (and SharedLibrary::open) hand to the system goes through
// toNativePath first, so a folder written with "\" works wherever it is used.

#include <string>
#include <vector>

namespace Cb {

// The variable's value, or "" when unset. One trailing "/" or "\" is removed,
// so "/opt/corix/" and "/opt/corix" name the same root; a value that is only
// a separator (the file-system root) is kept as it is.
// Throws "Error allocating memory for environment variable: " + name.
std::string getEnv(const std::string& name);

// getEnv("CORIX_PATH"). Throws "Please set $CORIX_PATH to the Corix root
// directory." when it is empty.
std::string corixRoot();

// Names (not paths) of the regular files directly in `dir`, symbolic links
// followed, sorted by byte order so every file system yields the same order.
// A directory that cannot be opened logs "Invalid path: " + dir + "/*" and
// gives an empty list; an enumeration that fails part way logs "Bad Path" and
// gives what was collected.
std::vector<std::string> listDirectory(const std::string& dir);

// The whole regular file (its path made native) as text. Line ends "\r\n"
// become "\n", as text-mode reading does, so the result may be shorter than
// the file. A file whose status cannot be read, that cannot be opened or read,
// throws "Error loading file " + native path + ": " + the system's text (for
// a directory "Is a directory", for a device or pipe "Invalid argument").
std::string readFile(const std::string& path);

// Every "\" becomes "/".
std::string toNativePath(const std::string& path);

// The permissions a new file gets from fopen: 0666 less the process's umask,
// read once and without changing it (setting it to read it back would, for
// a moment, let files that other threads create meanwhile skip it).
unsigned newFileMode();

// A new, empty, uniquely named file beside `target` (".<name>.XXXXXX"),
// with the permissions of a new file: a place to write a whole file before it
// is renamed over the target. Throws "Cannot create a file beside <target>: "
// + the system's text.
std::string createFileBeside(const std::string& target);

// Puts the whole file `written` in the place of `target`, atomically: readers
// see the old file or the new one, never neither. An existing regular target
// is swapped out and then removed, rather than renamed over: renaming over a
// file makes some file systems (ext4) write the new file back inside the
// call, which for a large file costs as much as writing it did. False with
// errno set when the file cannot be put there (`written` then stays).
bool replaceFile(const std::string& written, const std::string& target) noexcept;

// True when `path` ends in "." + ext with at least one character before the
// dot; case-sensitive ("a.sig" yes; "a.SIG", "sig", ".sig" no).
bool hasExtension(const std::string& path, const std::string& ext);

// `path` without its extension: up to, not including, the last "." of the
// last path component; `path` itself when that component has no dot.
std::string stripExtension(const std::string& path);

}  // namespace Cb
