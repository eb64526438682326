// The connection to the Depot database that the registry describes: under
// HKEY_LOCAL_MACHINE\SOFTWARE\Tamberlin\VREnterprise\Management Server\DBAccess the values
// "Source" (the ODBC data source name), "User" and "Password" (enciphered, CVrEpDBCrypt),
// made into "Provider=MSDASQL;DSN=...;User Id=...;Password=...;" by ADODB::MakeConnectionString,
// as tessera's CDepotData does. The Depot component and `vrhost db` connect this way.
#pragma once
#include <string>

#include "platform/ado/ado.h"

namespace vr::depot {

inline constexpr const char16_t* kDbAccessKey = u"SOFTWARE\\Tamberlin\\VREnterprise\\Management Server\\DBAccess";

// An open connection, or a failure with why saying what was missing or what the driver said
// (never the password). DEPOT_E_NOCONFIGURATION when a value is missing or does not decipher.
HRESULT OpenDepotDatabase(ADODB::ConnectionPtr* connection, std::string& why);

// The "Source" and "User" values; false with why when one cannot be read.
bool ReadDbAccess(WString& source, WString& user, std::string& why);

// The first diagnostic of a connection as "[state] text (native n)" for messages.
std::string DescribeErrors(const ADODB::ConnectionPtr& connection);

}  // namespace vr::depot
