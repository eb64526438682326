// vrhost snapshot, section "depot": the rows of the Depot tables (each table's rows sorted, in
// the db query line format) and whether the host key is there. The database file and the key
// are this section's, so the files section leaves them out: their bytes change with every
// write and every host, their content is what counts.
#include <algorithm>
#include <filesystem>

#include "platform/crypto/host_secret.h"
#include "platform/depot/depot_connection.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/text/convert.h"
#include "platform/text/line_escape.h"
#include "tools/vrhost/DbSnapshot.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {

std::string HideStoredSecrets(std::string text) {
  const std::string prefix = vr::text::WideToUtf8(vr::crypto::kStoredPrefix);
  for (size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at + 1)) {
    size_t end = at + prefix.size();
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '+' ||
                                 text[end] == '/' || text[end] == '='))
      ++end;
    text.replace(at + prefix.size(), end - at - prefix.size(), "(enciphered with the host key)");
  }
  return text;
}

std::string EscapedCell(const std::string& text) { return vr::text::EscapeLineText(text); }

bool PrintDepot(const SnapshotContext& c, std::string& out, std::string& error) {
  namespace fs = std::filesystem;
  const std::string key = c.root + "/" + vr::crypto::kHostKeyFile;
  std::error_code ec, sizeError;
  const fs::file_status status = fs::status(key, ec);
  const auto size = fs::file_size(key, sizeError);
  if (!ec && fs::exists(status))
    out += "host key " + std::string(vr::crypto::kHostKeyFile) + " (" + std::to_string(sizeError ? 0 : size) +
           " bytes, mode " +
           ((status.permissions() & (fs::perms::group_all | fs::perms::others_all)) == fs::perms::none
                ? "owner only"
                : "readable by others") +
           ")\n";
  else
    out += "no host key\n";
  ADODB::ConnectionPtr connection;
  if (FAILED(vr::depot::OpenDepotDatabase(&connection, error))) return false;
  for (const char* table : vr::depot::kDepotTables) {
    ADODB::RecordsetPtr rs;
    ADODB::CreateRecordset(&rs);
    rs->PutCursorLocation(ADODB::adUseClient);
    if (FAILED(rs->Open(u"SELECT * FROM " + vr::text::Utf8ToWide(table), {}, connection))) {
      error = std::string("cannot read ") + table + ": " + vr::depot::DescribeErrors(connection);
      return false;
    }
    std::string header;
    for (long i = 0; i < rs->FieldCount(); ++i) header += (i ? "\t" : "") + vr::text::WideToUtf8(rs->FieldName(i));
    std::vector<std::string> rows;
    for (; !rs->EndOfFile(); rs->MoveNext()) {
      std::string line;
      for (long i = 0; i < rs->FieldCount(); ++i) {
        Variant v, s;
        rs->GetValue(i, &v);
        if (i) line += "\t";
        if (v.vt == VT_NULL || v.vt == VT_EMPTY) line += "\\N";
        else if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR))) line += EscapedCell(vr::text::WideToUtf8(s.bstrVal));
      }
      rows.push_back(std::move(line));
    }
    std::sort(rows.begin(), rows.end());
    out += "table " + std::string(table) + " (" + std::to_string(rows.size()) + " rows)\n  " + header + "\n";
    for (const auto& row : rows) out += "  " + row + "\n";
  }
  connection->Close();
  return true;
}

}  // namespace vrhost
