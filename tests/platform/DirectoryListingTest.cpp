#include "platform/files/DirectoryListing.h"
#include "platform/files/FileNames.h"

#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pictolune {
namespace {

// Makes directory entries by their raw bytes, so names need not be UTF-8.
class Folder {
public:
    Folder() : root_(encodeFileName(dir_.path()).toStdString()) {}
    QString path() const { return dir_.path(); }
    std::string bytes(const std::string& name) const { return root_ + "/" + name; }

    void file(const std::string& name) const {
        const int fd = ::open(bytes(name).c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0) << name;
        ::close(fd);
    }
    void directory(const std::string& name) const {
        ASSERT_EQ(::mkdir(bytes(name).c_str(), 0755), 0) << name;
    }
    void fifo(const std::string& name) const {
        ASSERT_EQ(::mkfifo(bytes(name).c_str(), 0644), 0) << name;
    }
    void link(const std::string& name, const std::string& target) const {
        ASSERT_EQ(::symlink(target.c_str(), bytes(name).c_str()), 0) << name;
    }
    void socket(const std::string& name) const {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const std::string path = bytes(name);
        ASSERT_LT(path.size(), sizeof address.sun_path);
        path.copy(address.sun_path, path.size());
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ::close(fd);
    }

private:
    QTemporaryDir dir_;
    std::string root_;
};

QStringList listAll(DirectoryListing& listing, const QString& directory) {
    QStringList names;
    for (QString name = listing.first(directory); !name.isEmpty(); name = listing.next())
        names.append(name);
    return names;
}

TEST(DirectoryListing, ListsRegularFilesAndLinksToThemOnly) {
    Folder folder;
    folder.file("a.jpg");
    folder.file("b.txt");
    folder.file(".hidden.jpg");
    folder.directory("sub.jpg");
    folder.file("sub.jpg/inner.jpg"); // no recursion
    folder.fifo("x.jpg");
    folder.socket("sock.jpg");
    folder.link("link.jpg", "a.jpg");
    folder.link("dirlink.jpg", "sub.jpg");
    folder.link("dangling.jpg", "missing.jpg");
    folder.link("loop1.jpg", "loop2.jpg");
    folder.link("loop2.jpg", "loop1.jpg");
    folder.link("devnull.jpg", "/dev/null");

    SystemDirectoryListing listing;
    EXPECT_EQ(listAll(listing, folder.path()),
              (QStringList{".hidden.jpg", "a.jpg", "b.txt", "link.jpg"}));
}

TEST(DirectoryListing, ListsInNaturalCaseFoldedOrder) {
    Folder folder;
    for (const char* name : {"img10.jpg", "img2.jpg", "IMG1.jpg", "img1.jpg", "b.gif", "A.gif"})
        folder.file(name);
    SystemDirectoryListing listing;
    EXPECT_EQ(listAll(listing, folder.path()),
              (QStringList{"A.gif", "b.gif", "IMG1.jpg", "img1.jpg", "img2.jpg", "img10.jpg"}));
}

TEST(DirectoryListing, OrdersPairsAsAFileManagerWould) {
    struct Case {
        const char* before;
        const char* after;
    };
    const Case cases[] = {
        {"img2.jpg", "img10.jpg"},
        {"IMG2.jpg", "img10.jpg"},
        {"img9.jpg", "IMG10.JPG"},
        {"a.jpg", "B.jpg"},
        {"B.jpg", "c.jpg"},
        {"x9y", "x10a"},
        {"img", "img1"},
        {"img1", "img1a"},
        {"1", "a"},
        {"a.jpg", "a1.jpg"}, // "." sorts before the digits
        {"a1", "a_"},        // "_" sorts after them
        {"99999999999999999999", "100000000000000000000"},
        {"18446744073709551615", "18446744073709551616"},
        {"v1.9", "v1.10"},
        {"0", "1"},
        {"\u00e9tude", "\u00c9tuis"}, // É folds to é
        {"\u03c3a", "\u03a3b"},       // Σ folds to σ
        // Equal but for case or leading zeros: the exact name decides.
        {"A.jpg", "a.jpg"},
        {"IMG.jpg", "img.jpg"},
        {"img002.jpg", "img02.jpg"},
        {"img02.jpg", "img2.jpg"},
        {"img2.jpg", "img02b.jpg"}, // the value comes before the zeros
        {"\u00c9.jpg", "\u00e9.jpg"},
    };
    Folder folder;
    for (const Case& c : cases) {
        folder.file(c.before);
        folder.file(c.after);
    }
    SystemDirectoryListing listing;
    const QStringList names = listAll(listing, folder.path());
    for (const Case& c : cases) {
        EXPECT_LT(names.indexOf(QString::fromUtf8(c.before)),
                  names.indexOf(QString::fromUtf8(c.after)))
            << c.before << " < " << c.after;
    }
}

TEST(DirectoryListing, IsOneCursorThatANewListingRestarts) {
    Folder one, two;
    one.file("1.jpg");
    one.file("2.jpg");
    two.file("x.jpg");

    SystemDirectoryListing listing;
    EXPECT_EQ(listing.first(one.path()), "1.jpg");
    EXPECT_EQ(listing.first(two.path()), "x.jpg");
    EXPECT_EQ(listing.next(), "");
    EXPECT_EQ(listing.next(), "") << "the end stays the end";
    EXPECT_EQ(listing.first(one.path()), "1.jpg");
    EXPECT_EQ(listing.next(), "2.jpg");
    EXPECT_EQ(listing.next(), "");
}

TEST(DirectoryListing, SeesTheFolderAsItIsWhenTheListingStarts) {
    Folder folder;
    folder.file("a.jpg");
    SystemDirectoryListing listing;
    EXPECT_EQ(listAll(listing, folder.path()), QStringList{"a.jpg"});
    folder.file("b.jpg");
    EXPECT_EQ(listAll(listing, folder.path()), (QStringList{"a.jpg", "b.jpg"}));
    // Same number of names, same lengths: still read afresh.
    ASSERT_EQ(::rename(folder.bytes("a.jpg").c_str(), folder.bytes("c.jpg").c_str()), 0);
    EXPECT_EQ(listAll(listing, folder.path()), (QStringList{"b.jpg", "c.jpg"}));
    EXPECT_EQ(listAll(listing, folder.path()), (QStringList{"b.jpg", "c.jpg"}));
    ASSERT_EQ(::unlink(folder.bytes("b.jpg").c_str()), 0);
    EXPECT_EQ(listAll(listing, folder.path()), QStringList{"c.jpg"});
}

TEST(DirectoryListing, FoldersThatCannotBeReadListAsEmpty) {
    Folder folder;
    folder.file("plain.jpg");
    folder.directory("empty");
    const QString cases[] = {
        QString(), folder.path() + "/empty", folder.path() + "/missing",
        folder.path() + "/plain.jpg", // a file, not a folder
    };
    SystemDirectoryListing listing;
    for (const QString& directory : cases) {
        listing.first(folder.path()); // a listing in progress is abandoned
        EXPECT_EQ(listing.first(directory), "") << directory.toStdString();
        EXPECT_EQ(listing.next(), "") << directory.toStdString();
    }
}

TEST(DirectoryListing, AFolderWithoutReadPermissionListsAsEmpty) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every folder whatever its permissions";
    Folder folder;
    folder.directory("locked");
    folder.file("locked/a.jpg");
    ASSERT_EQ(::chmod(folder.bytes("locked").c_str(), 0), 0);
    SystemDirectoryListing listing;
    EXPECT_EQ(listing.first(folder.path() + "/locked"), "");
    ::chmod(folder.bytes("locked").c_str(), 0755);
}

TEST(DirectoryListing, NamesThatAreNotUtf8KeepTheirBytes) {
    Folder folder;
    const std::string folderName = "dir\xff";
    const std::string fileName = "caf\xe9\x80.jpg";
    folder.directory(folderName);
    folder.file(folderName + "/" + fileName);

    const QString directory = folder.path() + "/" + decodeFileName(folderName);
    SystemDirectoryListing listing;
    const QString name = listing.first(directory);
    EXPECT_EQ(name, QString::fromUtf16(u"caf\xdce9\xdc80.jpg"));
    EXPECT_EQ(listing.next(), "");
    EXPECT_EQ(encodeFileName(directory + "/" + name).toStdString(),
              folder.bytes(folderName + "/" + fileName));
    struct stat status;
    EXPECT_EQ(::stat(encodeFileName(directory + "/" + name).constData(), &status), 0);
}

} // namespace
} // namespace pictolune
