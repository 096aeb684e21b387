#include "app/export_dialog.h"

#include <QDateTime>
#include <QDir>
#include <QFileSystemModel>
#include <QIdentityProxyModel>
#include <QLocale>
#include <QStandardPaths>

namespace yuming {
namespace {

enum Column { NameColumn, SizeColumn, TypeColumn, DateColumn };

// Qt's file model writes sizes and dates in the system's locale, in IEC units ("KiB"); these
// are the columns as a Chinese desktop shows them.
class ChineseColumns : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (role != Qt::DisplayRole || !files ||
            (index.column() != SizeColumn && index.column() != DateColumn))
            return QIdentityProxyModel::data(index, role);
        const QModelIndex entry = mapToSource(index);
        if (index.column() == DateColumn)
            return m_locale.toString(files->lastModified(entry), QLocale::ShortFormat);
        if (files->isDir(entry)) return QString();
        return m_locale.formattedDataSize(files->size(entry), 1, QLocale::DataSizeSIFormat);
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const QStringList headers{QStringLiteral("名称"), QStringLiteral("大小"),
                                         QStringLiteral("类型"), QStringLiteral("修改日期")};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < headers.size())
            return headers[section];
        return QIdentityProxyModel::headerData(section, orientation, role);
    }

private:
    QLocale m_locale{QLocale::Chinese, QLocale::China};
};

} // namespace

// By extension only: for a folder, a pipe, a socket or a device the kind comes from the entry's
// metadata, never from its contents.
QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const {
    if (info.isDir()) return icon(Folder);
    const QIcon fallback = icon(File);
    return QIcon::fromTheme(m_types.mimeTypeForFile(info, QMimeDatabase::MatchExtension).iconName(),
                            fallback);
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const {
    if (info.isDir()) return QStringLiteral("文件夹");
    const QMimeType type = m_types.mimeTypeForFile(info, QMimeDatabase::MatchExtension);
    return type.comment().isEmpty() ? type.name() : type.comment();
}

ExportDialog::ExportDialog(QWidget* parent, const QString& folder)
    : QFileDialog(parent, QStringLiteral("导出"), folder, QStringLiteral("CSV (*.csv)")) {
    setOption(QFileDialog::DontUseNativeDialog);
    setIconProvider(&m_icons);
    setProxyModel(new ChineseColumns(this));
    setAcceptMode(QFileDialog::AcceptSave);
    setFileMode(QFileDialog::AnyFile);
    selectFile(QStringLiteral("domains.csv"));
    // Its own words, with or without Qt's translations installed.
    setLabelText(QFileDialog::LookIn, QStringLiteral("保存在："));
    setLabelText(QFileDialog::FileName, QStringLiteral("文件名(&N)："));
    setLabelText(QFileDialog::FileType, QStringLiteral("保存类型(&T)："));
    setLabelText(QFileDialog::Accept, QStringLiteral("保存(&S)"));
    setLabelText(QFileDialog::Reject, QStringLiteral("取消"));
}

QString ExportDialog::startFolder(const QString& lastExport) {
    if (!lastExport.isEmpty() && QFileInfo(lastExport).isDir()) return lastExport;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir()) return documents;
    return QDir::homePath();
}

} // namespace yuming
