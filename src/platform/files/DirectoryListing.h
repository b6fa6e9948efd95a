#pragma once

#include <QString>
#include <QStringView>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pictolune {

// The names in one directory, one at a time: first() starts a listing and
// next() continues the one started last. Both return the empty string once
// the listing is at its end.
class DirectoryListing {
public:
    virtual ~DirectoryListing() = default;
    // Starts a new listing of `directory`, abandoning any earlier one, and
    // returns its first name.
    virtual QString first(const QString& directory) = 0;
    // The next name of the current listing.
    virtual QString next() = 0;
};

// The names of the regular files directly in a directory, and of the links
// to regular files, hidden ones included; never directories, FIFOs, sockets,
// devices or broken links, and nothing from subdirectories. Bare names, in
// the order of their natural sort keys, then of the names themselves. A
// directory that cannot be read has no names.
class SortedNames {
public:
    // `previous`, the names read last, spares sorting again when the folder
    // reads exactly as it did then.
    static SortedNames read(const QString& directory, SortedNames previous = {});

    std::size_t size() const { return entries_.size(); }
    QStringView at(std::size_t i) const {
        return QStringView(units_.data() + entries_[i].offset, entries_[i].length);
    }

private:
    void sort();

    // All names in one buffer rather than one string each: a folder of a
    // million files costs two allocations, not a million.
    struct Entry {
        std::uint32_t offset;
        std::uint32_t length;
    };
    std::vector<char16_t> units_;
    std::vector<Entry> entries_;
};

// The listing of the file system.
class SystemDirectoryListing : public DirectoryListing {
public:
    QString first(const QString& directory) override;
    QString next() override;

private:
    SortedNames names_;
    std::size_t position_ = 0;
};

} // namespace pictolune
