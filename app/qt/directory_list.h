// SPDX-License-Identifier: GPL-3.0-or-later
// The output folder's two controls: the volumes for the drive selector, and
// the folder list. The list's rules (levels from "/" down to the current
// folder, then the sub-folders sorted; a single click only highlights, a
// double click or Enter enters; a folder that cannot be listed is never
// entered) are form::TFolderList's; this widget lists folders on disk and
// draws the entries.
#pragma once

#include <QIcon>
#include <QListWidget>
#include <QString>
#include <vector>

#include "form/folder_list.h"

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
    void EnterItem(QListWidgetItem* item, form::TFolderInput input);
    void Fill();

    form::TFolderList m_rules;
    QString m_directory;
};

}  // namespace app
