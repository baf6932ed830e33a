// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/version_text.h"

#include <QStringDecoder>

#include "form/update_flow.h"
#include "form/update_rules.h"

namespace app {

QString VersionText(const std::array<std::uint16_t, 4>& version) {
    return QString::fromStdU16String(form::VersionText(version));
}

bool IsNewerVersion(const QString& published, const QString& running) {
    return form::IsNewerVersion(published.toStdU16String(), running.toStdU16String());
}

QString DecodeVersionFile(const QByteArray& bytes) {
    const auto system = [](std::string_view b) {
        QStringDecoder decoder(QStringConverter::System, QStringConverter::Flag::Stateless);
        return QString(decoder.decode(QByteArrayView(b.data(), static_cast<qsizetype>(b.size()))))
            .toStdU16String();
    };
    return QString::fromStdU16String(form::DecodeVersionFile(
        std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), system));
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
