#include "platform/ado/ado.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/ado/odbc_internal.h"
#include "platform/ado/testing/pg_data_source.h"
#include "platform/ado/testing/sqlite_data_source.h"
#include "platform/com/errorinfo.h"
#include "platform/fault/fault.h"
#include "platform/text/casefold.h"
#include "platform/text/convert.h"

namespace {

using namespace ADODB;
using vr::text::WideToUtf8;

std::string Describe(const ConnectionPtr& c) {
  std::string s;
  for (const auto& e : c->Errors()) s += WideToUtf8(e.sqlState) + ": " + WideToUtf8(e.description) + "\n";
  return s;
}

// The same tests on the embedded database and on a PostgreSQL server, through the same code.
class AdoTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    vr::fault::Reset();
    if (GetParam() == "sqlite") {
      sqlite_ = std::make_unique<vr::ado::testing::SqliteDataSource>();
      connectionString_ = sqlite_->ConnectionString();
    } else {
      pg_ = std::make_unique<vr::ado::testing::PgDataSource>();
      connectionString_ = pg_->ConnectionString();
    }
    ASSERT_EQ(CreateConnection(&c_), S_OK);
    ASSERT_EQ(c_->Open(connectionString_), S_OK) << Describe(c_);
    ASSERT_EQ(c_->Execute(u"DROP TABLE IF EXISTS T", {}), S_OK) << Describe(c_);
    ASSERT_EQ(c_->Execute(u"CREATE TABLE T (Id VARCHAR(40) NOT NULL PRIMARY KEY, Name VARCHAR(8000), N INTEGER)", {}), S_OK)
        << Describe(c_);
  }
  void TearDown() override { vr::fault::Reset(); }

  // Every row of a query as "v1|v2|..." lines; NULL shown as <null>.
  std::string Rows(const std::u16string& sql, const std::vector<Variant>& params = {}) {
    RecordsetPtr rs;
    EXPECT_EQ(CreateRecordset(&rs), S_OK);
    rs->PutCursorLocation(adUseClient);
    EXPECT_EQ(rs->Open(sql, params, c_, adOpenForwardOnly, adLockReadOnly, adCmdText), S_OK) << Describe(c_);
    std::string out;
    while (!rs->EndOfFile()) {
      for (long i = 0; i < rs->FieldCount(); ++i) {
        Variant v;
        EXPECT_EQ(rs->GetValue(i, &v), S_OK);
        Variant s;
        out += (i ? "|" : "") + (v.vt == VT_NULL ? std::string("<null>")
                                                 : (VariantChangeType(&s, &v, 0, VT_BSTR), WideToUtf8(s.bstrVal)));
      }
      out += "\n";
      EXPECT_EQ(rs->MoveNext(), S_OK);
    }
    if (rs->State() == adStateOpen) {
      EXPECT_EQ(rs->Close(), S_OK);
    }
    return out;
  }

  std::unique_ptr<vr::ado::testing::SqliteDataSource> sqlite_;
  std::unique_ptr<vr::ado::testing::PgDataSource> pg_;
  std::u16string connectionString_;
  ConnectionPtr c_;
};

INSTANTIATE_TEST_SUITE_P(Engines, AdoTest, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& p) { return p.param; });

TEST(AdoConnectionString, ProviderDsnAndCredentialsBecomeAnOdbcString) {
  vr::ado::testing::SqliteDataSource source;
  WString odbc, why;
  ASSERT_EQ(ToOdbcConnectionString(source.ConnectionString(), u"", u"", &odbc, &why), S_OK) << WideToUtf8(why);
  const std::string s = WideToUtf8(odbc);
  // The DSN of the host root is expanded into its driver path and settings.
  EXPECT_EQ(s.find("DSN="), std::string::npos) << s;
  EXPECT_NE(s.find("DRIVER=/"), std::string::npos) << s;
  EXPECT_NE(s.find("libsqlite3odbc"), std::string::npos) << s;
  EXPECT_NE(s.find("Database=" + source.databaseFile() + ";"), std::string::npos) << s;
  EXPECT_NE(s.find("UID=vrdepot;"), std::string::npos) << s;
  // A password with ; and } travels in braces, } doubled.
  EXPECT_NE(s.find("PWD={Se;cr{e}}t'1};"), std::string::npos) << s;
  EXPECT_EQ(s.find("Provider"), std::string::npos) << s;

  // Arguments replace the string's credentials; a DSN the host root lacks goes to the driver manager.
  ASSERT_EQ(ToOdbcConnectionString(u"provider=msdasql; data source = Elsewhere ;uid=a;pwd=b", u"carol", u"pw", &odbc, &why),
            S_OK);
  EXPECT_EQ(WideToUtf8(odbc), "DSN=Elsewhere;UID=carol;PWD=pw;");

  EXPECT_EQ(ToOdbcConnectionString(u"Provider=SQLOLEDB;DSN=VrDepot;", u"", u"", &odbc, &why), adErrProviderNotFound);
  EXPECT_EQ(ToOdbcConnectionString(u"Provider=MSDASQL;DSN={VrDepot", u"", u"", &odbc, &why), adErrInvalidArgument);
  EXPECT_EQ(ToOdbcConnectionString(u"Provider=MSDASQL;", u"", u"", &odbc, &why), adErrInvalidArgument);
}

// Every character a password may hold reaches the driver as it is, and a string that does not
// parse never shows a piece of it in the reason.
TEST(AdoConnectionString, MadeStringsCarryAnyPasswordWhole) {
  for (const char16_t* password : {u"plain", u"a;b", u"k=v", u"{open", u"close}", u"{x}}y}", u" lead", u"trail ",
                                   u"\"q\"", u"'s'", u"a;b=c{d}e}f\"g'h", u"\u00e9;\u4e2d"}) {
    const WString text = MakeConnectionString(u"VrDepot", u"us;er", password);
    EXPECT_EQ(vr::ado::PasswordInConnectionString(text), password) << WideToUtf8(text);
    WString odbc, why;
    ASSERT_EQ(ToOdbcConnectionString(text, u"", u"", &odbc, &why), S_OK) << WideToUtf8(why);
    const size_t pwd = odbc.find(u"PWD=");
    ASSERT_NE(pwd, WString::npos);
    EXPECT_NE(odbc.find(u"UID={us;er};"), WString::npos) << WideToUtf8(odbc);
  }
  EXPECT_EQ(MakeConnectionString(u"VrDepot", u"vrdepot", u"pw"), u"Provider=MSDASQL;DSN=VrDepot;User Id=vrdepot;Password=pw;");
  WString odbc, why;
  EXPECT_TRUE(FAILED(ToOdbcConnectionString(u"Provider=MSDASQL;DSN=VrDepot;Password=ab;cd-secret-tail;", u"", u"", &odbc, &why)));
  EXPECT_FALSE(why.empty());
  EXPECT_EQ(why.find(u"cd-secret"), WString::npos) << WideToUtf8(why);
  EXPECT_TRUE(FAILED(ToOdbcConnectionString(u"Provider=MSDASQL;DSN=VrDepot;Password={secret-tail", u"", u"", &odbc, &why)));
  EXPECT_EQ(why.find(u"secret"), WString::npos) << WideToUtf8(why);
}

TEST(AdoConnection, UnknownDataSourceFailsClearlyWithoutThePassword) {
  vr::ado::testing::SqliteDataSource source;
  ConnectionPtr c;
  ASSERT_EQ(CreateConnection(&c), S_OK);
  const HRESULT hr = c->Open(u"Provider=MSDASQL;DSN=NoSuchSource;User Id=u;Password=TopSecret42;");
  EXPECT_TRUE(FAILED(hr));
  EXPECT_EQ(c->State(), adStateClosed);
  ASSERT_FALSE(c->Errors().empty());
  EXPECT_EQ(WideToUtf8(c->Errors().front().sqlState), "IM002") << Describe(c);
  std::shared_ptr<ErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  EXPECT_NE(WideToUtf8(info->description).find("Data source name not found"), std::string::npos);
  EXPECT_EQ(Describe(c).find("TopSecret42"), std::string::npos);

  // A data source whose database file is in a folder that does not exist.
  std::ofstream(source.root() + "/odbc.ini", std::ios::app) << "[Broken]\nDriver=VrSQLite3\nDatabase=" << source.root()
                                                            << "/missing/dir/x.db\n";
  EXPECT_TRUE(FAILED(c->Open(u"Provider=MSDASQL;DSN=Broken;")));
  EXPECT_FALSE(c->Errors().empty());
  EXPECT_EQ(c->Close(), adErrObjectClosed);
}

TEST_P(AdoTest, ValuesTravelAsParametersAndComeBackExactly) {
  // Quotes, markers and statement text inside values change nothing.
  const std::u16string nasty = u"x'); DROP TABLE T; -- ? \"q\" \U0001F600 \u00e9";
  long affected = 0;
  ASSERT_EQ(c_->Execute(u"INSERT INTO T (Id, Name, N) VALUES (?, ?, ?)", {Variant(u"1"), Variant(nasty), Variant(int32_t(7))},
                        &affected),
            S_OK)
      << Describe(c_);
  EXPECT_EQ(affected, 1);
  ASSERT_EQ(c_->Execute(u"INSERT INTO T (Id, Name, N) VALUES (?, ?, ?)", {Variant(u"2"), Variant::Null(), Variant(int32_t(-3))}),
            S_OK);
  EXPECT_EQ(Rows(u"SELECT Id, Name, N FROM T WHERE Name = ?", {Variant(nasty)}), "1|" + WideToUtf8(nasty) + "|7\n");
  EXPECT_EQ(Rows(u"SELECT Id, Name, N FROM T WHERE Name IS NULL"), "2|<null>|-3\n");
  // A '?' inside a quoted literal is text, not a marker.
  EXPECT_EQ(Rows(u"SELECT Id FROM T WHERE Name <> 'a?b' AND N = ? ORDER BY Id", {Variant(int32_t(7))}), "1\n");
  // A long text comes back whole.
  const std::u16string longText(5000, u'z');
  ASSERT_EQ(c_->Execute(u"UPDATE T SET Name = ? WHERE Id = ?", {Variant(longText), Variant(u"2")}, &affected), S_OK);
  EXPECT_EQ(affected, 1);
  EXPECT_EQ(Rows(u"SELECT Name FROM T WHERE Id = '2'"), std::string(5000, 'z') + "\n");
  ASSERT_EQ(c_->Execute(u"DELETE FROM T WHERE Id = ?", {Variant(u"none")}, &affected), S_OK);
  EXPECT_EQ(affected, 0);
  // The number of markers and of values must agree.
  EXPECT_EQ(c_->Execute(u"DELETE FROM T WHERE Id = ?", {}), adErrInvalidArgument);
  EXPECT_EQ(Rows(u"SELECT COUNT(*) FROM T"), "2\n");
}

TEST_P(AdoTest, RecordsetFollowsAdoStates) {
  ASSERT_EQ(c_->Execute(u"INSERT INTO T (Id, Name) VALUES ('a', 'first')", {}), S_OK);
  ASSERT_EQ(c_->Execute(u"INSERT INTO T (Id, Name) VALUES ('b', 'second')", {}), S_OK);
  RecordsetPtr rs;
  ASSERT_EQ(CreateRecordset(&rs), S_OK);
  EXPECT_TRUE(rs->EndOfFile());
  EXPECT_EQ(rs->Close(), adErrObjectClosed);
  ASSERT_EQ(rs->Open(u"SELECT * FROM T ORDER BY Id", {}, c_), S_OK);
  EXPECT_EQ(rs->Open(u"SELECT * FROM T", {}, c_), adErrObjectOpen);
  EXPECT_EQ(rs->RecordCount(), 2);
  WString text;
  ASSERT_EQ(rs->GetText(u"NAME", &text), S_OK);  // names without regard to case
  EXPECT_EQ(WideToUtf8(text), "first");
  bool isNull = false;
  ASSERT_EQ(rs->GetText(u"n", &text, &isNull), S_OK);
  EXPECT_TRUE(isNull);
  EXPECT_EQ(text, u"");
  Variant v;
  EXPECT_EQ(rs->GetValue(u"Missing", &v), adErrItemNotFound);
  EXPECT_EQ(rs->GetValue(long(9), &v), adErrItemNotFound);
  EXPECT_TRUE(vr::text::EqualsNoCase(rs->FieldName(1), u"Name"));  // PostgreSQL gives "name"
  ASSERT_EQ(rs->MoveNext(), S_OK);
  ASSERT_EQ(rs->MoveNext(), S_OK);
  EXPECT_TRUE(rs->EndOfFile());
  EXPECT_EQ(rs->GetValue(long(0), &v), adErrNoCurrentRecord);
  EXPECT_EQ(rs->MoveNext(), adErrNoCurrentRecord);
  ASSERT_EQ(rs->MoveFirst(), S_OK);
  ASSERT_EQ(rs->GetText(u"Id", &text), S_OK);
  EXPECT_EQ(text, u"a");
  ASSERT_EQ(rs->Close(), S_OK);

  // A statement without rows leaves the recordset closed; its change is made.
  ASSERT_EQ(rs->Open(u"DELETE FROM T WHERE Id = ?", {Variant(u"a")}, c_), S_OK);
  EXPECT_EQ(rs->State(), adStateClosed);
  EXPECT_TRUE(rs->EndOfFile());
  EXPECT_EQ(Rows(u"SELECT Id FROM T"), "b\n");

  // A failing statement reports the driver's error in the connection's collection.
  EXPECT_TRUE(FAILED(rs->Open(u"SELECT * FROM NoSuchTable", {}, c_)));
  ASSERT_FALSE(c_->Errors().empty());
  EXPECT_NE(vr::text::FindNoCase(vr::text::Utf8ToWide(Describe(c_)), u"NoSuchTable"), WString::npos) << Describe(c_);
  EXPECT_EQ(rs->State(), adStateClosed);

  // A closed connection cannot serve a recordset.
  ASSERT_EQ(c_->Close(), S_OK);
  EXPECT_EQ(rs->Open(u"SELECT * FROM T", {}, c_), adErrInvalidConnection);
  EXPECT_EQ(rs->Open(u"SELECT * FROM T", {}, nullptr), adErrInvalidConnection);
}

TEST_P(AdoTest, TransactionsCommitAndRollBack) {
  ASSERT_EQ(c_->BeginTrans(), S_OK);
  EXPECT_TRUE(FAILED(c_->BeginTrans()));
  ASSERT_EQ(c_->Execute(u"INSERT INTO T (Id) VALUES ('gone')", {}), S_OK);
  ASSERT_EQ(c_->RollbackTrans(), S_OK);
  EXPECT_EQ(Rows(u"SELECT Id FROM T"), "");
  ASSERT_EQ(c_->BeginTrans(), S_OK);
  ASSERT_EQ(c_->Execute(u"INSERT INTO T (Id) VALUES ('kept')", {}), S_OK);
  ASSERT_EQ(c_->CommitTrans(), S_OK);
  EXPECT_TRUE(FAILED(c_->CommitTrans()));
  // What one connection committed, another sees; an open transaction dies with its connection.
  ConnectionPtr other;
  ASSERT_EQ(CreateConnection(&other), S_OK);
  ASSERT_EQ(other->Open(connectionString_), S_OK);
  ASSERT_EQ(other->BeginTrans(), S_OK);
  ASSERT_EQ(other->Execute(u"INSERT INTO T (Id) VALUES ('lost')", {}), S_OK);
  ASSERT_EQ(other->Close(), S_OK);
  EXPECT_EQ(Rows(u"SELECT Id FROM T"), "kept\n");
}

TEST_P(AdoTest, FaultPointsFailWithTheirCode) {
  vr::fault::Configure("ado.Execute#2=0x80004005;ado.Open#1=0x80040E4D;ado.CreateInstance#1;ado.CommitTrans#1");
  EXPECT_EQ(c_->Execute(u"INSERT INTO T (Id) VALUES ('1')", {}), S_OK);
  EXPECT_EQ(c_->Execute(u"INSERT INTO T (Id) VALUES ('2')", {}), E_FAIL);
  std::shared_ptr<ErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
  EXPECT_NE(WideToUtf8(info->description).find("ado.Execute"), std::string::npos);
  ConnectionPtr c;
  RecordsetPtr rs;
  EXPECT_EQ(CreateConnection(&c), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(c, nullptr);
  ASSERT_EQ(CreateConnection(&c), S_OK);
  EXPECT_EQ(c->Open(connectionString_), MakeHr(0x80040E4D));
  EXPECT_EQ(c->State(), adStateClosed);
  ASSERT_EQ(c_->BeginTrans(), S_OK);
  ASSERT_EQ(c_->Execute(u"INSERT INTO T (Id) VALUES ('3')", {}), S_OK);
  EXPECT_EQ(c_->CommitTrans(), E_FAIL);  // a commit that fails leaves nothing of the transaction
  EXPECT_FALSE(c_->InTransaction());
  EXPECT_EQ(Rows(u"SELECT Id FROM T"), "1\n");
}

TEST(AdoPostgres, WrongPasswordAndServerDownFailClearly) {
  vr::ado::testing::PgDataSource source(vr::ado::testing::PgDataSource::Server::kOwn);
  ConnectionPtr c;
  ASSERT_EQ(CreateConnection(&c), S_OK);
  EXPECT_TRUE(FAILED(c->Open(u"Provider=MSDASQL;DSN=VrDepot;User Id=vrtest;Password=Wrong-Guess7;")));
  EXPECT_NE(Describe(c).find("password authentication failed"), std::string::npos) << Describe(c);
  EXPECT_EQ(Describe(c).find("Wrong-Guess7"), std::string::npos);
  EXPECT_EQ(c->State(), adStateClosed);

  // A connection open when the server stops fails on its next statement; a new one cannot open.
  ASSERT_EQ(c->Open(source.ConnectionString()), S_OK) << Describe(c);
  source.server().Stop();
  EXPECT_TRUE(FAILED(c->Execute(u"SELECT 1", {})));
  EXPECT_FALSE(c->Errors().empty());
  ConnectionPtr other;
  ASSERT_EQ(CreateConnection(&other), S_OK);
  EXPECT_TRUE(FAILED(other->Open(source.ConnectionString())));
  EXPECT_NE(Describe(other).find("socket"), std::string::npos) << Describe(other);
  source.server().Start();
  ASSERT_EQ(other->Open(source.ConnectionString()), S_OK) << Describe(other);
  EXPECT_NE(WideToUtf8(other->DbmsName()).find("PostgreSQL"), std::string::npos);
}

TEST(AdoTrace, StatementShownWithItsValues) {
  EXPECT_EQ(WideToUtf8(FormatForTrace(u"SELECT * FROM T WHERE A=? AND B='?' AND C=? AND D=?",
                                      {Variant(u"it's"), Variant(int32_t(5)), Variant::Null()})),
            "SELECT * FROM T WHERE A='it''s' AND B='?' AND C=5 AND D=NULL");
}

}  // namespace
