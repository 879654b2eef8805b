#ifndef SNAPRESERVE_PLATFORM_STAND_IN_REG_FILE_H_
#define SNAPRESERVE_PLATFORM_STAND_IN_REG_FILE_H_

#include <string>
#include <vector>

#include "platform/registry.h"

namespace platform {

/// A registry export file (.reg) holding keys of HKEY_LOCAL_MACHINE, kept as
/// its bytes so that a change rewrites only the lines it touches: comments,
/// layout, other keys and values, the header and the encoding all come through.
/// Nothing is decoded until it is asked for; an index of the key sections
/// lets a lookup skip every other key.
struct RegFile {
  bool utf16 = true;       // UTF-16LE with a byte-order mark; else 8-bit (UTF-8)
  bool utf8_bom = false;   // an 8-bit file that starts with a UTF-8 byte-order mark
  bool regedit4 = false;   // REGEDIT4 header: text in hex data is 8-bit
  std::string bytes;       // the whole file, byte-order mark included
  // Each key's header line, in file order, as offsets into `bytes`: where the
  // line starts, and where the key's name between the brackets starts and ends.
  struct Section {
    size_t line = 0;
    size_t name = 0;
    size_t name_end = 0;
  };
  std::vector<Section> sections;
};

/// An empty registry, as the registry editor of Windows exports it.
RegFile NewRegFile();

/// Reads a file's bytes (taken over, not copied, when moved in). False when
/// they are not a registry export; then `bad_line` is the 1-based line where
/// they stop making sense.
bool ParseRegFile(std::string bytes, RegFile* file, int* bad_line);

/// The file's bytes, in its own encoding: `file.bytes`.
std::string SerializeRegFile(const RegFile& file);

/// One definition in the file, in file order: a key (`is_key`), or a value of
/// the key above it. Keys are as written, hive included. A later definition of
/// a value overrides an earlier one of the same name.
struct RegDefinition {
  bool is_key = false;
  std::wstring key;
  std::wstring name;
  RegistryValue value;
};
std::vector<RegDefinition> RegDefinitions(const RegFile& file);

/// Paths are below HKEY_LOCAL_MACHINE (L"SOFTWARE\\Halvorn"); names of keys and
/// values match without regard to case; the default value's name is empty.
bool RegKeyExists(const RegFile& file, const std::wstring& path);
bool FindRegValue(const RegFile& file, const std::wstring& path, const std::wstring& name,
                  RegistryValue* value);

/// Adds an empty key at the end of the file unless it exists. True when the
/// file changed.
bool AddRegKey(RegFile* file, const std::wstring& path);

/// Stores a value in the key (created when missing), in place of any value of
/// that name.
void SetRegValue(RegFile* file, const std::wstring& path, const std::wstring& name,
                 const RegistryValue& value);

/// Removes every line that defines the value. False when there was none.
bool DeleteRegValue(RegFile* file, const std::wstring& path, const std::wstring& name);

}  // namespace platform

#endif  // SNAPRESERVE_PLATFORM_STAND_IN_REG_FILE_H_
