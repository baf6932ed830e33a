// SPDX-License-Identifier: GPL-3.0-or-later
// The version file's rules (form/update_rules.h) on Qt strings, and its
// decoding, which uses the system's code page as Qt knows it.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <optional>

namespace app {

// The running version as text, "a.b.c.d".
QString VersionText(const std::array<std::uint16_t, 4>& version);

// True only when both are versions and `published` is the greater, number by
// number: 1.0.0.10 is newer than 1.0.0.9, and "1.0.0.0 " is not newer than
// 1.0.0.0.
bool IsNewerVersion(const QString& published, const QString& running);

// The version file's text: a UTF-8 or UTF-16 (LE or BE) byte-order mark
// selects that encoding and is dropped; without one the bytes are in the
// system's 8-bit code page (the locale's encoding on Linux).
QString DecodeVersionFile(const QByteArray& bytes);

// The lines of `text`, split at CR LF, CR or LF. A break at the very end
// ends the last line and starts no new one.
QStringList SplitLines(const QString& text);

// The published version: the file's second line, empty when it has none.
QString PublishedVersionLine(const QString& text);

}  // namespace app
