#pragma once
// Archives made with libarchive's writer, for the installer's tests.

#include <archive.h>
#include <archive_entry.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vq::installer::test {

struct Member {
    enum Kind { file, directory, symlink, hardlink } kind;
    std::string name;
    std::string data;          // a file's bytes, or a link's target
    std::uint64_t zeros = 0;   // a file of this many zero bytes instead
};

// A zip archive, or a tar archive where zip cannot say it (hard links).
inline void writeArchive(const std::string& path, const std::vector<Member>& members, bool zip = true) {
    std::unique_ptr<archive, int (*)(archive*)> out(archive_write_new(), archive_write_free);
    zip ? archive_write_set_format_zip(out.get()) : archive_write_set_format_pax_restricted(out.get());
    if (archive_write_open_filename(out.get(), path.c_str()) != ARCHIVE_OK) throw std::runtime_error(path);
    const std::string chunk(1 << 20, '\0');
    for (const Member& m : members) {
        std::unique_ptr<archive_entry, void (*)(archive_entry*)> entry(archive_entry_new(), archive_entry_free);
        archive_entry_set_pathname(entry.get(), m.name.c_str());
        archive_entry_set_perm(entry.get(), 0644);
        const bool hasData = m.kind == Member::file;
        archive_entry_set_filetype(entry.get(), m.kind == Member::directory ? AE_IFDIR
                                                : m.kind == Member::symlink ? AE_IFLNK
                                                                            : AE_IFREG);
        if (m.kind == Member::symlink) archive_entry_set_symlink(entry.get(), m.data.c_str());
        if (m.kind == Member::hardlink) archive_entry_set_hardlink(entry.get(), m.data.c_str());
        archive_entry_set_size(entry.get(), hasData ? (m.zeros ? m.zeros : m.data.size()) : 0);
        if (archive_write_header(out.get(), entry.get()) != ARCHIVE_OK)
            throw std::runtime_error(archive_error_string(out.get()));
        if (hasData && !m.zeros) archive_write_data(out.get(), m.data.data(), m.data.size());
        for (std::uint64_t left = m.zeros; left > 0; left -= std::min<std::uint64_t>(left, chunk.size()))
            archive_write_data(out.get(), chunk.data(), std::min<std::uint64_t>(left, chunk.size()));
    }
    archive_write_close(out.get());
}

}  // namespace vq::installer::test
