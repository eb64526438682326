// Secrets of the host (the Depot database password) stored enciphered: libsodium's secretbox
// (XSalsa20-Poly1305) with the host key, 32 random bytes in the host root's file "host.key"
// (mode 0600, made by `vrhost init`). The stored form is text, so that it fits a REG_SZ value:
// "VRSB1:" followed by the base64 of nonce and box. It tells nothing of the secret but its
// length, and a stored form made with another host key does not decipher.
//
// No function here puts the secret, or anything derived from it but the stored form, into an
// error text.
//
// Folder platform/crypto, library vr_crypto: host layer of the host key and enciphered secrets
// (libsodium) and CVrEpDBCrypt; uses platform/registry, os, com, text and fault.
#pragma once
#include <string>

#include "platform/text/wstring.h"

namespace vr::crypto {

inline constexpr const char* kHostKeyFile = "host.key";
inline constexpr const char16_t* kStoredPrefix = u"VRSB1:";

// HostRoot() + "/host.key".
std::string HostKeyPath();

// Makes the host key of root when it has none (created exclusively, mode 0600, flushed).
// False with error when it cannot; an existing key is kept.
bool CreateHostKey(const std::string& root, std::string& error);

// The stored form of plain under the current host's key. Point "crypto.Encipher".
bool EncipherSecret(WStringView plain, WString& stored, std::string& error);
// The plain text of a stored form. False for a text that is not a stored form, that another
// key made, or that was changed. Point "crypto.Decipher".
bool DecipherSecret(WStringView stored, WString& plain, std::string& error);

// Overwrites a secret's characters before it is dropped.
void WipeSecret(WString& secret);

}  // namespace vr::crypto
