// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/version_text.h"

#include <QStringDecoder>

#include "form/update_rules.h"

namespace app {

QString VersionText(const std::array<std::uint16_t, 4>& version) {
    return QString::fromStdU16String(form::VersionText(version));
}

bool IsNewerVersion(const QString& published, const QString& running) {
    return form::IsNewerVersion(published.toStdU16String(), running.toStdU16String());
}

QString DecodeVersionFile(const QByteArray& bytes) {
    struct TBom {
        const char* Bytes;
        qsizetype Size;
        QStringConverter::Encoding Encoding;
    };
    static constexpr TBom kBoms[] = {
        {"\xEF\xBB\xBF", 3, QStringConverter::Utf8},
        {"\xFF\xFE", 2, QStringConverter::Utf16LE},
        {"\xFE\xFF", 2, QStringConverter::Utf16BE},
    };
    for (const TBom& bom : kBoms) {
        if (bytes.startsWith(QByteArrayView(bom.Bytes, bom.Size))) {
            QStringDecoder decoder(bom.Encoding, QStringConverter::Flag::Stateless);
            return decoder.decode(QByteArrayView(bytes).sliced(bom.Size));
        }
    }
    QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QStringList SplitLines(const QString& text) {
    QStringList lines;
    for (const std::u16string& line : form::SplitLines(text.toStdU16String()))
        lines.append(QString::fromStdU16String(line));
    return lines;
}

QString PublishedVersionLine(const QString& text) {
    return QString::fromStdU16String(form::PublishedVersionLine(text.toStdU16String()));
}

}  // namespace app
