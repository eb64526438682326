// vrhost db query SQL: one statement of any kind on the Depot database, through the same
// connection the Depot component makes (DBAccess values, enciphered password). Rows are printed
// as a header line of column names and one line per row, tab-separated; in values a backslash,
// tab, line feed and carriage return are written \\ \t \n \r, and NULL as \N, so that every row
// is one line.
//
// vrhost dbaccess show | set-password TEXT|- | use-postgresql ... | use-embedded: the DBAccess
// settings of the host.
#include <cstdio>
#include <iostream>

#include "platform/crypto/host_secret.h"
#include "platform/depot/depot_connection.h"
#include "platform/depot/depot_setup.h"
#include "platform/depot/sql_script.h"
#include "platform/os/datadir.h"
#include "platform/os/file.h"
#include "platform/registry/registry.h"
#include "platform/registry/scoped_key.h"
#include "platform/registry/regtools.h"
#include "platform/text/convert.h"
#include "tools/vrhost/DbSnapshot.h"
#include "tools/vrhost/RegistryWrite.h"
#include "tools/vrhost/Vrhost.h"
#include "tools/vrhost/VrhostParts.h"

namespace vrhost {
namespace {

using vr::text::Utf8ToWide;
using vr::text::WideToUtf8;

const Command kDb{"db", "db query SQL", "runs one SQL statement on the Depot database and prints its rows", nullptr};
const Command kDbAccess{
    "dbaccess",
    "dbaccess show | set-password TEXT|- | use-postgresql --server HOST [--port N] --database DB --user USER "
    "--password TEXT|- [--create-tables] [--demo-data] | use-embedded",
    "the Depot database connection: show it, replace the enciphered password, point the host at a PostgreSQL "
    "server or back at its embedded database",
    nullptr};

int Query(std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("db query takes one SQL statement (quote it as one argument)", kDb);
  if (!RequireRoot()) return kFailed;
  ADODB::ConnectionPtr c;
  std::string why;
  if (FAILED(vr::depot::OpenDepotDatabase(&c, why))) {
    Error(why);
    return kFailed;
  }
  ADODB::RecordsetPtr rs;
  if (FAILED(ADODB::CreateRecordset(&rs))) {
    Error("cannot create a recordset");
    return kFailed;
  }
  rs->PutCursorLocation(ADODB::adUseClient);
  if (FAILED(rs->Open(Utf8ToWide(args[0]), {}, c, ADODB::adOpenForwardOnly, ADODB::adLockReadOnly, ADODB::adCmdText))) {
    Error("the statement failed: " + vr::depot::DescribeErrors(c));
    return kFailed;
  }
  std::string out;
  if (rs->State() == ADODB::adStateOpen) {
    for (long i = 0; i < rs->FieldCount(); ++i) out += (i ? "\t" : "") + EscapedCell(WideToUtf8(rs->FieldName(i)));
    out += "\n";
    for (; !rs->EndOfFile(); rs->MoveNext()) {
      for (long i = 0; i < rs->FieldCount(); ++i) {
        Variant v, s;
        rs->GetValue(i, &v);
        if (i) out += "\t";
        if (v.vt == VT_NULL || v.vt == VT_EMPTY) out += "\\N";
        else if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR))) out += EscapedCell(WideToUtf8(s.bstrVal));
      }
      out += "\n";
    }
    rs->Close();
  }
  c->Close();
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

}  // namespace

int RunDb(std::vector<std::string>& args) {
  if (args.empty()) return UsageError("db needs a command", kDb);
  const std::string sub = args[0];
  args.erase(args.begin());
  if (sub == "query") return Query(args);
  return UsageError("unknown db command '" + sub + "'", kDb);
}

namespace {

// TEXT, or "-" for one line of standard input (so that the password stays out of the process list).
bool PasswordArgument(const std::string& given, WString& password) {
  std::string text = given;
  if (given == "-" && !std::getline(std::cin, text)) text.clear();
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  password = Utf8ToWide(text);
  return !password.empty();
}

int SetPassword(std::vector<std::string>& args) {
  if (args.size() != 1) return UsageError("dbaccess set-password takes the password (or - to read it)", kDbAccess);
  if (!RequireRoot()) return kFailed;
  WString password;
  if (!PasswordArgument(args[0], password)) {
    Error("the database password must not be empty");
    return kFailed;
  }
  std::string error;
  const bool ok = vr::depot::WriteDbPassword(password, error);
  vr::crypto::WipeSecret(password);
  vr::registry::CloseHive();
  if (!ok) {
    Error(error);
    return kFailed;
  }
  return kOk;
}

int Show(std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("dbaccess show takes no argument", kDbAccess);
  if (!RequireRoot()) return kFailed;
  WString source, user;
  std::string why;
  if (!vr::depot::ReadDbAccess(source, user, why)) {
    Error(why);
    return kFailed;
  }
  std::printf("Source\t%s\nUser\t%s\nPassword\t(enciphered with the host key)\n", WideToUtf8(source).c_str(),
              WideToUtf8(user).c_str());
  return std::fflush(stdout) == 0 ? kOk : kFailed;
}

// What a change of data source replaces, put back when the new one does not work, so that a
// host is never left pointing at a database it cannot reach.
class DataSourceBackup {
 public:
  DataSourceBackup() {
    for (const char* file : {"odbc.ini", "odbcinst.ini"}) {
      std::string bytes;
      const long rc = vr::os::ReadWholeFile(Utf8ToWide(Root() + "/" + file), bytes);
      const Kept kept = rc == ERROR_SUCCESS ? Kept::Content : rc == ERROR_FILE_NOT_FOUND ? Kept::Absent : Kept::Unknown;
      if (kept == Kept::Unknown && error_.empty()) error_ = "cannot read " + Root() + "/" + file + ": " + ErrorText(rc);
      files_.push_back({file, kept, bytes});
    }
    vr::registry::ScopedKey h;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, vr::depot::kDbAccessKey, 0, KEY_READ, h.Receive()) == ERROR_SUCCESS) {
      for (const char16_t* name : {u"Source", u"User", u"Password"}) {
        DWORD type = 0, size = 0;
        Value v{name, false, {}};
        if (RegQueryValueExW(h, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
          v.data.resize(size);
          v.present = RegQueryValueExW(h, name, nullptr, &type, v.data.data(), &size) == ERROR_SUCCESS;
        }
        values_.push_back(std::move(v));
      }
    }
  }

  // False, with the reason, when the previous data source could not be read whole: then it
  // could not be put back, and the change must not start.
  bool Complete(std::string& error) const {
    error = error_;
    return error_.empty();
  }

  void Restore() {
    for (const auto& f : files_) {
      const WString path = Utf8ToWide(Root() + "/" + f.name);
      // Saved as every file of the host is (flushed, then renamed into place).
      if (f.kept == Kept::Absent) vr::os::DeleteFile(path);
      else if (f.kept == Kept::Content) vr::os::SaveFileAtomic(path, f.bytes);
    }
    vr::registry::RunInTransaction([&]() -> long {
      vr::registry::ScopedKey h;
      if (long rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, vr::depot::kDbAccessKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                    h.Receive(), nullptr);
          rc != ERROR_SUCCESS)
        return rc;
      for (const auto& v : values_) {
        if (v.present) RegSetValueExW(h, v.name, 0, REG_SZ, v.data.data(), static_cast<DWORD>(v.data.size()));
        else RegDeleteValueW(h, v.name);
      }
      return ERROR_SUCCESS;
    });
  }

 private:
  enum class Kept { Absent, Content, Unknown };
  struct File {
    const char* name;
    Kept kept;
    std::string bytes;
  };
  struct Value {
    const char16_t* name;
    bool present;
    std::vector<BYTE> data;
  };
  std::vector<File> files_;
  std::string error_;
  std::vector<Value> values_;
};

// Opens the database the host now names and reads its tables; false with error when it cannot.
bool CheckConnection(std::string& error) {
  ADODB::ConnectionPtr c;
  if (FAILED(vr::depot::OpenDepotDatabase(&c, error))) return false;
  for (const char* table : vr::depot::kDepotTables) {
    ADODB::RecordsetPtr rs;
    ADODB::CreateRecordset(&rs);
    if (FAILED(rs->Open(u"SELECT COUNT(*) FROM " + Utf8ToWide(table), {}, c))) {
      error = std::string("the Depot database has no readable table ") + table + " (" + vr::depot::DescribeErrors(c) +
              "); --create-tables makes the tables";
      return false;
    }
  }
  c->Close();
  return true;
}

int UsePostgres(std::vector<std::string>& args) {
  bool ok = true;
  std::string server, port = "5432", database, user, given;
  const bool haveServer = TakeOption(args, "--server", server, ok);
  TakeOption(args, "--port", port, ok);
  const bool haveDatabase = TakeOption(args, "--database", database, ok);
  const bool haveUser = TakeOption(args, "--user", user, ok);
  const bool havePassword = TakeOption(args, "--password", given, ok);
  const bool createTables = TakeFlag(args, "--create-tables");
  const bool demoData = TakeFlag(args, "--demo-data");
  if (!ok) return kUsage;
  if (!args.empty()) return UsageError("unexpected argument '" + args[0] + "'", kDbAccess);
  if (!haveServer || !haveDatabase || !haveUser || !havePassword)
    return UsageError("use-postgresql needs --server, --database, --user and --password", kDbAccess);
  if (!RequireRoot()) return kFailed;
  WString password;
  if (!PasswordArgument(given, password)) {
    Error("the database password must not be empty");
    return kFailed;
  }
  vr::depot::DataSource source;
  std::string error;
  DataSourceBackup backup;
  if (!backup.Complete(error)) {
    Error(error + "; the host keeps its previous data source");
    return kFailed;
  }
  bool done = vr::depot::PostgresDataSource(vr::depot::kDefaultDataSource, server, port, database, source, error) &&
              vr::depot::WriteDataSource(Root(), source, error) &&
              vr::depot::WriteDbAccess(Utf8ToWide(source.name), Utf8ToWide(user), password, error);
  vr::crypto::WipeSecret(password);
  const std::string data = vr::os::DataDir();
  if (done && createTables)
    done = vr::depot::CreateDepotTables(data + "/" + vr::depot::kSchemaFile,
                                        demoData ? data + "/" + vr::depot::kDemoDataFile : "", error);
  else if (done)
    done = CheckConnection(error);
  if (!done) backup.Restore();
  vr::registry::CloseHive();
  if (!done) {
    Error(error + "; the host keeps its previous data source");
    return kFailed;
  }
  return kOk;
}

int UseEmbedded(std::vector<std::string>& args) {
  if (!args.empty()) return UsageError("dbaccess use-embedded takes no argument", kDbAccess);
  if (!RequireRoot()) return kFailed;
  vr::depot::DataSource source;
  std::string error;
  WString password = vr::depot::GeneratePassword();
  DataSourceBackup backup;
  if (!backup.Complete(error)) {
    Error(error + "; the host keeps its previous data source");
    return kFailed;
  }
  bool done = vr::depot::SqliteDataSource(Root(), source, error) && vr::depot::WriteDataSource(Root(), source, error) &&
              vr::depot::WriteDbAccess(Utf8ToWide(source.name), Utf8ToWide(vr::depot::kDefaultUser), password, error);
  vr::crypto::WipeSecret(password);
  done = done && CheckConnection(error);
  if (!done) backup.Restore();
  vr::registry::CloseHive();
  if (!done) {
    Error(error + "; the host keeps its previous data source");
    return kFailed;
  }
  return kOk;
}

}  // namespace

int RunDbAccess(std::vector<std::string>& args) {
  if (args.empty()) return UsageError("dbaccess needs a command", kDbAccess);
  const std::string sub = args[0];
  args.erase(args.begin());
  if (sub == "set-password") return SetPassword(args);
  if (sub == "show") return Show(args);
  if (sub == "use-postgresql") return UsePostgres(args);
  if (sub == "use-embedded") return UseEmbedded(args);
  return UsageError("unknown dbaccess command '" + sub + "'", kDbAccess);
}

const Command kDbCommand{kDb.name, kDb.synopsis, kDb.summary, RunDb};
const Command kDbAccessCommand{kDbAccess.name, kDbAccess.synopsis, kDbAccess.summary, RunDbAccess};

}  // namespace vrhost
