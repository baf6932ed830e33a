// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/qt/directory_list.h"

#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QStorageInfo>
#include <QStyle>
#include <algorithm>

namespace app {

namespace {

TVolumeKind KindOf(const QStorageInfo& storage) {
    const QByteArray type = storage.fileSystemType();
    static const QByteArray network[] = {"nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "9p", "afs"};
    if (std::find(std::begin(network), std::end(network), type) != std::end(network))
        return TVolumeKind::Network;
    if (type == "iso9660" || type == "udf") return TVolumeKind::Cd;
    if (type == "tmpfs" || type == "ramfs") return TVolumeKind::Ram;
    const QString device = QString::fromLocal8Bit(storage.device());
    if (device.startsWith(QLatin1String("/dev/"))) {
        // /sys/class/block/<name>/removable exists for whole disks; a
        // partition's parent disk holds it.
        const QString name = QFileInfo(QFileInfo(device).canonicalFilePath()).fileName();
        for (const QString& dir : {QStringLiteral("/sys/class/block/%1").arg(name),
                                   QStringLiteral("/sys/class/block/%1/..").arg(name)}) {
            QFile flag(dir + QStringLiteral("/removable"));
            if (flag.open(QIODevice::ReadOnly))
                return flag.readAll().trimmed() == "1" ? TVolumeKind::Removable : TVolumeKind::Fixed;
        }
    }
    return TVolumeKind::Fixed;
}

constexpr int kItemHeight = 19;

form::TFolderListing ListFolder(const QString& path) {
    form::TFolderListing listing;
    const QFileInfo info(path);
    listing.Listed = info.isDir() && info.isReadable() && info.isExecutable();
    if (!listing.Listed) return listing;
    for (const QString& name : QDir(path).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted))
        listing.SubFolders.push_back(name.toStdU16String());
    return listing;
}

}  // namespace

QIcon VolumeIcon(TVolumeKind kind, const QStyle* style) {
    switch (kind) {
        case TVolumeKind::Removable:
            return style->standardIcon(QStyle::SP_DriveFDIcon);
        case TVolumeKind::Network:
            return style->standardIcon(QStyle::SP_DriveNetIcon);
        case TVolumeKind::Cd:
            return style->standardIcon(QStyle::SP_DriveCDIcon);
        default:
            return style->standardIcon(QStyle::SP_DriveHDIcon);
    }
}

QString TVolume::Text() const {
    switch (Kind) {
        case TVolumeKind::Removable:
            return RootPath;
        case TVolumeKind::Network:
            return Label.isEmpty() ? RootPath : RootPath + u' ' + Label;
        default:
            return Label.isEmpty() ? RootPath : RootPath + QStringLiteral(" [") + Label + u']';
    }
}

std::vector<TVolume> MountedVolumes() {
    std::vector<TVolume> volumes;
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        const QString root = NormalFolder(storage.rootPath());
        // Bind-mounted single files (containers mount /etc/hosts so) are no folders.
        if (!QFileInfo(root).isDir()) continue;
        if (std::any_of(volumes.begin(), volumes.end(), [&](const TVolume& v) { return v.RootPath == root; }))
            continue;
        TVolume v;
        v.RootPath = root;
        v.Kind = KindOf(storage);
        v.Label = v.Kind == TVolumeKind::Network ? QString::fromLocal8Bit(storage.device()) : storage.name();
        volumes.push_back(std::move(v));
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const TVolume& a, const TVolume& b) { return a.RootPath < b.RootPath; });
    return volumes;
}

int VolumeIndexOf(const std::vector<TVolume>& volumes, const QString& path) {
    int best = -1;
    qsizetype bestLength = -1;
    for (std::size_t i = 0; i < volumes.size(); ++i) {
        const QString& root = volumes[i].RootPath;
        const bool holds = root == QLatin1String("/") || path == root || path.startsWith(root + u'/');
        if (holds && root.size() > bestLength) {
            best = static_cast<int>(i);
            bestLength = root.size();
        }
    }
    return best;
}

QString NormalFolder(const QString& path) {
    return QString::fromStdU16String(form::NormalFolder(QDir(path).absolutePath().toStdU16String()));
}

TDirectoryList::TDirectoryList(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setUniformItemSizes(true);
    // Only a double click enters a folder, whatever the style's single-click
    // activation says.
    connect(this, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { EnterItem(item, form::TFolderInput::DoubleClick); });
}

bool TDirectoryList::SetDirectory(const QString& path) {
    const QString folder = NormalFolder(path);
    if (!m_rules.Enter(folder.toStdU16String(), ListFolder(folder))) return false;
    const bool changed = folder != m_directory;
    m_directory = QString::fromStdU16String(m_rules.Directory());
    Fill();
    if (changed) emit Change();
    return true;
}

void TDirectoryList::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        EnterItem(currentItem(), form::TFolderInput::EnterKey);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TDirectoryList::EnterItem(QListWidgetItem* item, form::TFolderInput input) {
    if (item == nullptr || !form::EntersFolder(input)) return;
    const QString path = item->data(kPathRole).toString();
    if (!SetDirectory(path)) emit EnterFailed(path);
}

void TDirectoryList::Fill() {
    clear();
    const QIcon open = style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closed = style()->standardIcon(QStyle::SP_DirClosedIcon);
    auto add = [&](const QString& text, const QString& path, int level, const QIcon& icon) {
        auto* item = new QListWidgetItem(icon, QString(level * 2, u' ') + text, this);
        item->setData(kPathRole, path);
        item->setSizeHint(QSize(0, kItemHeight));
        return item;
    };

    // The levels from "/" down to the current folder, then its sub-folders.
    QListWidgetItem* current = nullptr;
    const auto& entries = m_rules.Entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const form::TFolderEntry& e = entries[i];
        auto* item = add(QString::fromStdU16String(e.Text), QString::fromStdU16String(e.Path), e.Depth,
                         e.Level ? open : closed);
        if (i == m_rules.CurrentEntry()) current = item;
    }
    setCurrentItem(current);
}

}  // namespace app
