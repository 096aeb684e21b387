#include "support/zip_writer.h"

#include <archive.h>
#include <archive_entry.h>
#include <gtest/gtest.h>

namespace yuming::testing {

QString writeZip(const QTemporaryDir& dir, const QString& name, const std::vector<ZipMember>& members,
                 bool store) {
    const QString path = dir.filePath(name);
    archive* out = archive_write_new();
    archive_write_set_format_zip(out);
    if (store) archive_write_set_format_option(out, "zip", "compression", "store");
    EXPECT_EQ(archive_write_open_filename(out, path.toUtf8().constData()), ARCHIVE_OK);
    for (const ZipMember& m : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, m.path.c_str());
        archive_entry_set_filetype(entry, m.folder ? AE_IFDIR : AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, m.bytes.size());
        EXPECT_EQ(archive_write_header(out, entry), ARCHIVE_OK) << m.path;
        if (!m.bytes.isEmpty()) {
            EXPECT_EQ(archive_write_data(out, m.bytes.constData(), static_cast<std::size_t>(m.bytes.size())),
                      m.bytes.size());
        }
        archive_entry_free(entry);
    }
    archive_write_close(out);
    archive_write_free(out);
    return path;
}

} // namespace yuming::testing
