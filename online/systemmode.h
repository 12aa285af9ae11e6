// The remote restore setting: one integer, "system_mode", that the vendor's
// web server hands out at "/itunes_bk_options.php" as a JSON object. Above 0
// the transfer's restore sends only the switches that differ from the
// phone's defaults and leaves the system files alone.
//
// Read once per program run and per host with one blocking request (libcurl,
// a timeout of a few seconds, no redirects, loopback or the configured host
// only); until a read succeeds the setting counts as 0 and the next call
// asks again. Without a host no request is made and the mode is 0.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// True when the setting read from `host` ("host[:port]") is above 0.
bool systemMode(const QString& host, int timeoutMs = 5000);
// The build's own vendor host.
bool systemMode();

// "system_mode" of an answer's body: 0 when the member is absent, nothing
// when the body is no JSON object or the member no integer.
std::optional<int> parseSystemModeBody(const QByteArray& body);

// Forgets the values read so far (tests).
void resetSystemMode();
