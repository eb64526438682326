// The prerequisite-check configuration file (vroreqcheck.cfg and its copies): UTF-8 text whose
// frame is checked on load (three header lines, the system and prerequisites sections, the
// closing CRC line) and which is saved with a fresh CRC line at its end.
#pragma once
#include <optional>

#include "tessera/Files/VrTextFile.h"

class VrConfigFile : public VrTextFile {
 public:
  explicit VrConfigFile(const WChar* path);

  void Free(bool all) override;
  HRESULT LoadFile(VrReadStream& stream) override;
  HRESULT LoadFile() override;
  // Stores the content (keeping the previous file as backup) and writes the CRC line behind it.
  HRESULT SaveFile() override;
  // Stores the content unchanged (it already ends with its CRC line).
  HRESULT ReSaveFile();

  // True for the line that ends a system block: the CRC line or a "[SYSTEM]" line.
  bool IsEndOfSystem(const VrTextLine& line) const;
  // True for the line that ends a requirements block: "[PREREQUISITES]", "[INFORMATION]" or
  // "[SYSTEM_SECTION]" as first token.
  bool IsEndOfRequirements(const VrTextLine& line) const;

  // The version test of the "VER" line: letters, digits, '.', '-', and '*' standing for a
  // whole part (at the start or behind '.' or '-', and followed by the end, '.' or '-').
  static bool IsVersion(WStringView text);

  const WString& GetVersion() const { return version_; }
  const WString& GetUpdates() const { return updates_; }
  // The value of the CRC line as loaded, 8 upper-case hexadecimal digits.
  const WString& GetCrcText() const { return crcText_; }
  const std::optional<VrTextPosition>& GetPrerequisitesSectionPosition() const { return prerequisitesSection_; }
  const std::optional<VrTextPosition>& GetSystemSectionPosition() const { return systemSection_; }
  // The user message of the last load's failure (message 3056 for a malformed CRC line), or empty.
  const WString& GetErrorText() const { return errorText_; }

 private:
  HRESULT CheckFrame();

  WString version_;
  WString updates_;
  WString crcText_;
  std::optional<VrTextPosition> prerequisitesSection_;
  std::optional<VrTextPosition> systemSection_;
  WString errorText_;
};
