#pragma once

#include <QFileDialog>
#include <QFileIconProvider>
#include <QMimeDatabase>

namespace yuming {

// Icons and types told from an entry's name and its kind (folder, file, pipe, device) alone.
// Qt's own provider tells a file without a known extension by its first bytes, read on the
// window's thread: one file whose read never returns (a kernel file, a hung network or FUSE
// mount) would stop the window for good.
class NameOnlyIconProvider : public QFileIconProvider {
public:
    QIcon icon(IconType type) const override { return QFileIconProvider::icon(type); }
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

private:
    QMimeDatabase m_types;
};

// The dialog both exports are saved with: Qt's own file dialog rather than the desktop's (only
// Qt's takes an icon provider), opened with open() and answered through fileSelected(); its
// sizes and dates are shown as a Chinese desktop shows them.
//
// The dialog's model keeps a pointer to its icon provider: the provider is held by a base listed
// before the dialog's, so that it is made before the model and destroyed after it.
struct ExportDialogIcons {
    NameOnlyIconProvider m_icons;
};

class ExportDialog : private ExportDialogIcons, public QFileDialog {
public:
    ExportDialog(QWidget* parent, const QString& folder);

    // Where the dialog starts: the folder of the last export while it exists, else the user's
    // documents folder, else home; never the folder the program was started in.
    static QString startFolder(const QString& lastExport);
};

} // namespace yuming
