// SPDX-License-Identifier: GPL-3.0-or-later
// The output folder's two controls: the volumes for the drive selector, and
// the folder list, which shows the path from "/" down to the current folder,
// one entry per level, then the current folder's sub-folders in sorted order.
//
// A single click only highlights an entry; a double click or Enter makes it
// the current folder. A folder that cannot be listed is never entered, so
// the current folder (where the recovery writes) is always one that opened.
#pragma once

#include <QIcon>
#include <QListWidget>
#include <QString>
#include <vector>

namespace app {

enum class TVolumeKind { Fixed, Removable, Network, Cd, Ram };

// One mounted file system, as the drive selector offers it.
struct TVolume {
    QString RootPath;  // mount point, absolute, no trailing "/" except for "/"
    QString Label;     // volume label or share name; may be empty
    TVolumeKind Kind = TVolumeKind::Fixed;
    QString Text() const;  // what the selector shows
};

// The selector's icon for a kind of volume.
QIcon VolumeIcon(TVolumeKind kind, const QStyle* style);

// The mounted file systems whose mount point is a folder, sorted by path.
std::vector<TVolume> MountedVolumes();

// The index of the volume that holds path (the longest mount point that is
// path itself or one of its ancestors), or -1.
int VolumeIndexOf(const std::vector<TVolume>& volumes, const QString& path);

// A folder path in the form the list reports it: absolute, "." and ".."
// resolved, no trailing "/" except for the root "/".
QString NormalFolder(const QString& path);

class TDirectoryList : public QListWidget {
    Q_OBJECT

public:
    // The item's full folder path is kept under this role.
    static constexpr int kPathRole = Qt::UserRole + 1;

    explicit TDirectoryList(QWidget* parent = nullptr);

    // The current folder: where the recovery writes.
    const QString& Directory() const { return m_directory; }
    // Makes path the current folder and emits Change when it differs from
    // the current one. False, with nothing changed, when it cannot be listed.
    bool SetDirectory(const QString& path);

signals:
    void Change();
    // A folder the user chose could not be entered.
    void EnterFailed(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void EnterItem(QListWidgetItem* item);
    void Fill();

    QString m_directory;
};

}  // namespace app
