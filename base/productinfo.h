// The product's fixed identity: name, version, build number and the
// identifier that names the data folder. Shared by the window and the
// command line so both agree on where their data lives.
#pragma once

#include <QString>

namespace product {

inline constexpr const char* kName = "Quillometry Chat Transfer";
inline constexpr const char* kVersion = "3.2.182";
inline constexpr int kBuildNumber = 202;
inline constexpr const char* kIdentifier = "5D0C8A73F1E24B69A0B7C3D58E91F246";

// The address users are pointed to for help in every error box; plain text,
// fixed when the program is built.
QString supportAddress();

// The translated product name, " (x64)" and " v" + the version.
QString productTitle();

// Host (and optional ":port") of the vendor's web server; empty when the
// build configured none, and then no online service makes any request.
QString vendorHost();

// The base address "http://host[:port]" of the vendor's web server for a
// "host[:port]" setting (a name, an IPv4 address or a bracketed IPv6 address,
// optionally followed by a port from 1 to 65535). Empty when the setting is
// empty or names no plain host: a path, a user, a query or a space in it is
// refused rather than guessed at, so nothing is ever sent to a half-read
// address.
QString vendorBaseUrl(const QString& host);

// The same for the build's own setting: empty when the build has none.
inline QString vendorBaseUrl() { return vendorBaseUrl(vendorHost()); }

// A link captioned `caption` to the page `path` ("/guides/...") on the
// vendor's web server, as rich text for a message; without a configured
// server the caption alone (escaped), so no message points nowhere.
QString vendorLink(const QString& caption, const QString& path);

}  // namespace product
