#include "platform/depot/sql_script.h"

#include <fstream>
#include <iterator>

#include "platform/text/convert.h"

namespace vr::depot {

std::vector<WString> SplitSqlScript(std::string_view text) {
  std::vector<WString> statements;
  std::string current;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    size_t lead = 0;
    while (lead < line.size() && (line[lead] == ' ' || line[lead] == '\t')) ++lead;
    if (line.substr(lead, 2) == "--" || lead == line.size()) continue;
    if (!current.empty()) current += '\n';
    current += line;
    if (line.back() == ';') {
      current.pop_back();
      statements.push_back(vr::text::Utf8ToWide(current));
      current.clear();
    }
  }
  if (!current.empty()) statements.push_back(vr::text::Utf8ToWide(current));
  return statements;
}

HRESULT RunSqlScriptFile(const ADODB::ConnectionPtr& connection, const std::string& path, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "cannot read " + path;
    return E_FAIL;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::vector<WString> statements = SplitSqlScript(text);
  if (HRESULT hr = connection->BeginTrans(); FAILED(hr)) {
    why = "cannot begin a transaction: " +
          (connection->Errors().empty() ? std::string("error") : vr::text::WideToUtf8(connection->Errors().front().description));
    return hr;
  }
  for (const WString& statement : statements) {
    if (HRESULT hr = connection->Execute(statement, {}); FAILED(hr)) {
      why = path + ": the statement '" + vr::text::WideToUtf8(statement.substr(0, 80)) + "' failed: " +
            (connection->Errors().empty() ? std::string("error") : vr::text::WideToUtf8(connection->Errors().front().description));
      connection->RollbackTrans();
      return hr;
    }
  }
  if (HRESULT hr = connection->CommitTrans(); FAILED(hr)) {
    why = path + ": cannot commit: " +
          (connection->Errors().empty() ? std::string("error") : vr::text::WideToUtf8(connection->Errors().front().description));
    return hr;
  }
  return S_OK;
}

}  // namespace vr::depot
