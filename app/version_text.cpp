#include "app/version_text.h"

#include <QStringDecoder>

namespace app {

std::optional<TVersion> ParseVersion(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) return std::nullopt;
    const QStringList parts = trimmed.split(QLatin1Char('.'));
    if (parts.size() > 4) return std::nullopt;
    TVersion version{};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        // Digits only: toUInt alone would take "+1" or " 1".
        if (part.isEmpty() || part.size() > 10) return std::nullopt;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        }
        bool ok = false;
        const std::uint32_t n = part.toUInt(&ok);
        if (!ok) return std::nullopt;
        version[static_cast<std::size_t>(i)] = n;
    }
    return version;
}

QString VersionText(const std::array<std::uint16_t, 4>& version) {
    return QStringLiteral("%1.%2.%3.%4").arg(version[0]).arg(version[1]).arg(version[2]).arg(version[3]);
}

bool IsNewerVersion(const QString& published, const QString& running) {
    const auto p = ParseVersion(published);
    const auto r = ParseVersion(running);
    return p && r && *p > *r;
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
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) continue;
        lines.append(text.mid(start, i - start));
        if (c == QLatin1Char('\r') && i + 1 < n && text[i + 1] == QLatin1Char('\n')) ++i;
        start = i + 1;
    }
    if (start < n) lines.append(text.mid(start));
    return lines;
}

QString PublishedVersionLine(const QString& text) {
    return SplitLines(text).value(1);
}

}  // namespace app
