// Private-profile (INI) functions: sections in brackets, key=value lines, ';' comments.
// Section and key names match regardless of case; with duplicates the first wins. A file
// named without a directory lies in the station's profile directory.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// $XDG_CONFIG_HOME/brenvik, or ~/.config/brenvik when XDG_CONFIG_HOME is unset or empty.
std::string ProfileDirectory();
// The path a profile file name stands for.
std::string ProfilePath(const char* file);

// Copies the value (or the default when the key is missing) into destination, cut to size-1
// characters and zero-terminated. Returns the number of characters copied.
uint32_t GetPrivateProfileString(const char* section, const char* key, const char* default_value,
                                 char* destination, uint32_t size, const char* file);

// The value's leading sign and digits as a 32-bit signed integer ("42A" is 42, "B42" is 0;
// values beyond the range are held at its ends); the default when the key is missing.
int32_t GetPrivateProfileInt(const char* section, const char* key, int32_t default_value,
                             const char* file);

// Sets the key's value in place, or adds the key at the end of its section, or the section at
// the end of the file; every other line stays as it was. The file is replaced atomically and
// written with CR LF line ends. Returns false when nothing could be written (the file keeps
// its old content).
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file);

}  // namespace platform
