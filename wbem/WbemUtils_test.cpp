// The WBEM utilities: the connection, the error reports with every item of the extended
// report, the HRESULT names, and the unexpected-exception trace of FunctionContextT.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/com/errorinfo.h"
#include "platform/os/lasterror.h"
#include "platform/os/message.h"
#include "platform/com/runtime.h"
#include "platform/fault/fault.h"
#include "platform/wmi/extended_status.h"
#include "platform/wmi/system_classes.h"
#include "platform/wmi/wbem_object.h"
#include "platform/wmi/testing/temp_host.h"
#include "wbem/HresultNames.h"
#include "wbem/WbemUtils.h"
#include "tests/support/HostTestSupport.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

const std::string kHeader =
    "\n* * *\n\nThe following extended error information is intended to augment the\n"
    "fundamental error message that appears above.\n\n";
const std::string kFooter = "\n\n* * *\n";

// Clears what the extended report looks at.
void ClearErrorState() {
  errno = 0;
  SetLastError(0);
  std::shared_ptr<ErrorInfo> none;
  GetErrorInfo(0, &none);
}

std::string Report(HRESULT hr) {
  CaptureStderr();
  ReportExtendedErrorInfo(hr);
  return GetCapturedStderr();
}

TEST(HresultNames, TablesOfBothPrograms) {
  EXPECT_STREQ(GetHresultName(MakeHr(0x80041002)), "WBEM_E_NOT_FOUND");
  EXPECT_STREQ(GetHresultName(MakeHr(0x80041068)), "0x80041068");
  EXPECT_STREQ(GetHresultName(0), "0x00000000");
  EXPECT_STREQ(GetHresultName(1), "0x00000001");  // mordant's table has no WBEM_S_FALSE
  EXPECT_STREQ(LookupHresultName(1, true), "WBEM_S_FALSE");
  EXPECT_EQ(HresultNameCount(false), 145u);
  EXPECT_EQ(HresultNameCount(true), 146u);
  EXPECT_STREQ(LookupHresultName(MakeHr(0x800706B3), false), "RPC_S_NOT_LISTENING");
  EXPECT_STREQ(LookupHresultName(MakeHr(0x800706BF), false), "RPC_S_CALL_FAILED_DNE");
  EXPECT_STREQ(LookupHresultName(MakeHr(0x80041050), false), "WBEM_E_CANNOT_CHANGE_INDEX_INHERITANCE");
  EXPECT_STREQ(LookupHresultName(MakeHr(0x80041067), false), "WBEM_E_CLIENT_TOO_SLOW");
  EXPECT_STREQ(LookupHresultName(0x40004, false), "WBEM_S_TIMEDOUT");
  EXPECT_EQ(LookupHresultName(MakeHr(0x8004105E), false), nullptr);  // no such code
  // The static buffer is reused by the next unnamed value.
  const char* first = GetHresultName(MakeHr(0x80990001));
  EXPECT_STREQ(first, "0x80990001");
  GetHresultName(MakeHr(0x80990002));
  EXPECT_STREQ(first, "0x80990002");
}

TEST(ReportError, HeadingThenMessage) {
  CaptureStderr();
  ReportError("Unit.cpp", 42, "  %S failed.\n    hr = 0x%08X  %s\n", u"Something", static_cast<unsigned>(E_FAIL),
              GetHresultName(E_FAIL));
  EXPECT_EQ(GetCapturedStderr(), "\nERROR: In Unit.cpp line 42:\n  Something failed.\n    hr = 0x80004005  E_FAIL\n");
}

TEST(ExtendedReport, NothingForSuccessCodes) {
  ClearErrorState();
  errno = EINVAL;
  EXPECT_EQ(Report(S_OK), "");
  EXPECT_EQ(Report(WBEM_S_TIMEDOUT), "");
  errno = 0;
}

TEST(ExtendedReport, OnlyTheFrameWhenNothingIsKnown) {
  ClearErrorState();
  EXPECT_EQ(Report(MakeHr(0x80041068)), kHeader + "   Could not locate any additional error information.\n" + kFooter);
}

TEST(ExtendedReport, ErrnoLastErrorAndTheHresultText) {
  ClearErrorState();
  errno = ENOENT;
  SetLastError(5);
  const std::string out = Report(E_ACCESSDENIED);
  const std::string expected =
      kHeader +
      "errno:\n\n   Standard C function calls can set \"errno\" if a problem occurs.\n"
      "   \"errno\" is currently set.  Its value and meaning is:\n\n      errno = 2 No such file or directory\n\n"
      "GetLastError():\n\n   Windows function calls may set the last error value on a per thread\n"
      "   basis when an error occurs.  GetLastError() is currently set to\n"
      "   5, which has the following meaning:\n\n     Access is denied.\r\n\n\n"
      "HRESULT:\n\n   Calls to COM functions return HRESULTs, which are used to indicate\n"
      "   if the COM function completed successfully.  An HRESULT indicating\n"
      "   unsuccessful completion has been returned.  Its value and meaning is:\n\n"
      "     hr = 0x80070005  E_ACCESSDENIED\n\n     Access is denied.\r\n\n\n" +
      kFooter;
  EXPECT_EQ(out, expected);
  ClearErrorState();
  // A last-error value without system text prints nothing for that item.
  SetLastError(0x7777);
  EXPECT_EQ(Report(MakeHr(0x80041068)), kHeader + "   Could not locate any additional error information.\n" + kFooter);
  ClearErrorState();
}

TEST(ExtendedReport, PlainComErrorObject) {
  ClearErrorState();
  auto info = std::make_shared<ErrorInfo>();
  info->description = u"The database is offline";
  info->guid = {0x0000051A, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
  info->helpContext = 1240640;
  info->helpFile = u"ado.hlp";
  info->source = u"Provider";
  SetErrorInfo(0, info);
  EXPECT_EQ(Report(MakeHr(0x80041068)),
            kHeader +
                "IErrorInfo:\n\n   Calls to COM functions may return error information in an\n"
                "   IErrorInfo object.  An IErrorInfo object has been created.\n"
                "   The values of it has returned are:\n\n"
                "     Description  : The database is offline\n"
                "     GUID         : 0000051A-0000-0010-8000-00AA006D2EA4\n"
                "     HelpContext  : 0x0012EE40 or 1240640\n"
                "     HelpFile     : ado.hlp\n"
                "     Source       : Provider\n\n" +
                kFooter);
  std::shared_ptr<ErrorInfo> left;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);  // the report took it
}

TEST(ExtendedReport, ExtendedStatusObjectWithANullProviderName) {
  ClearErrorState();
  auto status = vr::wmi::MakeExtendedStatus(WBEM_E_NOT_FOUND, u"GetObject", u"VR_Nothing", u"Not found");
  Variant null = Variant::Null();
  ASSERT_EQ(status->Put(u"ProviderName", 0, &null, 0), S_OK);
  auto info = std::make_shared<ErrorInfo>();
  info->object = status;
  SetErrorInfo(0, info);
  EXPECT_EQ(Report(WBEM_E_NOT_FOUND),
            kHeader +
                "WBEM __ExtendedStatus:\n\n   Calls to WBEM COM functions may return __ExtendedStatus information\n"
                "   when errors occur.  An __ExtendedStatus object has been created.\n"
                "   The values of its properties are:\n\n"
                "     Description  : Not found\n"
                "     Operation    : GetObject\n"
                "     ParameterInfo: VR_Nothing\n"
                "     ProviderName : \n\n" +
                kFooter);
  // A WMI error object of another class adds nothing.
  ClearErrorState();
  vr::wmi::InstanceRecord rec;
  rec.cls = vr::wmi::SystemClass(u"__NAMESPACE");
  rec.values.assign(rec.cls->properties.size(), Variant(u"x"));
  info = std::make_shared<ErrorInfo>();
  info->object = vr::wmi::WbemObject::FromInstance(std::move(rec), {});
  SetErrorInfo(0, info);
  EXPECT_EQ(Report(MakeHr(0x80041068)), kHeader + "   Could not locate any additional error information.\n" + kFooter);
}

void Inner() {
  FunctionContextT context("Inner.cpp", 10, "Inner()");
  context.line = 12;
  throw std::runtime_error("boom");
}

void Outer() {
  FunctionContextT context("Outer.cpp", 100, "Outer()");
  { FunctionContextT passed("Quiet.cpp", 1, "Quiet()"); }  // left normally: prints nothing
  context.line = 105;
  Inner();
}

TEST(FunctionContext, PrintsOncePerContextTheExceptionPasses) {
  CaptureStderr();
  EXPECT_THROW(Outer(), std::runtime_error);
  EXPECT_EQ(GetCapturedStderr(),
            "\nERROR: An unexpected exception was thrown from function Inner()\n  somewhere after line 12 in file Inner.cpp.\n"
            "\nERROR: An unexpected exception was thrown from function Outer()\n  somewhere after line 105 in file Outer.cpp.\n");
}

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    vr::fault::Reset();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  }
  void TearDown() override {
    CoUninitialize();
    vr::fault::Reset();
  }
};

TEST_F(Connection, PointerChecksComeBeforeAnyComCall) {
  vr::wmi::testing::TempHost host;
  std::shared_ptr<IWbemServices> services;
  ASSERT_EQ(InitializeWbem(&services), S_OK);
  const auto before = services;
  const std::string log = vr::testing::ScratchPath("wbem-faults.log");
  std::remove(log.c_str());
  vr::fault::SetLogFile(log);
  CaptureStderr();
  EXPECT_EQ(InitializeWbem(nullptr), E_POINTER);
  EXPECT_EQ(InitializeWbem(&services), E_POINTER);
  const std::string out = GetCapturedStderr();
  vr::fault::SetLogFile("");
  EXPECT_EQ(services, before);  // left as it was
  EXPECT_NE(out.find("  The pointer passed to InitializeWbem() must not be NULL,\n  because it has to receive the "
                     "IWbemServices pointer created by\n  the InitializeWbem() function.\n"),
            std::string::npos);
  EXPECT_NE(out.find("  Dereferencing the pointer passed to InitializeWbem()\n  should be NULL (that is, *ppWS should be "
                     "NULL).  If it is not\n  NULL, then there could be a memory leak in the calling function.\n"),
            std::string::npos);
  std::ifstream in(log);
  std::stringstream points;
  points << in.rdbuf();
  EXPECT_EQ(points.str(), "");  // no host call at all
}

TEST_F(Connection, EachFailingStepReportsItself) {
  vr::wmi::testing::TempHost host(false);  // no product namespace
  std::shared_ptr<IWbemServices> services;
  CaptureStderr();
  EXPECT_EQ(InitializeWbem(&services), WBEM_E_INVALID_NAMESPACE);
  std::string out = GetCapturedStderr();
  EXPECT_NE(out.find("  IWbemLocator::ConnectServer() failed.\n    strNetworkResource: \\\\.\\root\\Tamberlin\\Vorant\\data\n"
                     "    hr = 0x8004100e (WBEM_E_INVALID_NAMESPACE)\n"),
            std::string::npos);
  EXPECT_FALSE(services);

  vr::fault::Configure("com.CoCreateInstance#1");
  CaptureStderr();
  EXPECT_EQ(InitializeWbem(&services), REGDB_E_CLASSNOTREG);
  EXPECT_NE(GetCapturedStderr().find("  CoCreateInstance(CLSID_WbemLocator) failed.\n    hr = 0x80040154 (REGDB_E_CLASSNOTREG)\n"),
            std::string::npos);

  vr::wmi::testing::TempHost seeded;
  vr::fault::Configure("com.CoSetProxyBlanket#1=0x80070005");
  CaptureStderr();
  EXPECT_EQ(InitializeWbem(&services), E_ACCESSDENIED);
  EXPECT_NE(GetCapturedStderr().find("  CoSetProxyBlanket() of IWbemServices pointer failed.\n    hr = 0x80070005 (E_ACCESSDENIED)\n"),
            std::string::npos);
  EXPECT_FALSE(services);
  vr::fault::Reset();
  EXPECT_EQ(InitializeWbem(&services), S_OK);
  EXPECT_TRUE(services);
}

}  // namespace
