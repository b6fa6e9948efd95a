#pragma once

#include "catalogue/ImageCatalogue.h"

#include <QString>
#include <QStringList>
#include <QStringView>

namespace pictolune {

class DirectoryListing;
class FolderChooser;
class NumberList;

// Whether a file name is taken as a picture: its last four UTF-16 units (the
// whole name when shorter) are ".jpg", "jpeg", ".bmp", ".gif", "tiff" or
// ".wmf". A folder's scan compares them exactly ("a.JPG" is not taken); a
// picture the user names is compared without case.
bool isImageFileName(QStringView name, Qt::CaseSensitivity cs = Qt::CaseSensitive);
// The six endings as a reader sees them: ".jpg, jpeg, .bmp, .gif, tiff or .wmf".
QString imageEndingsText();

// Reads the pictures of a chosen folder into the catalogue and the number
// list `comImage`. Each scan reads the folder twice: a count pass, one
// re-dimension of imagePaths to the count, and a fill pass that stores the
// paths (directory + "/" + name) into the elements that now exist. Between
// scans scanCounter equals lastIndex and comImage holds 0..lastIndex.
//
// A cancelled folder dialog changes nothing.
//
// A folder that gives no picture is one line on stderr, since the window
// then stays black: it says which endings count, and how many names end in
// one of them in another case (a camera's IMG_0001.JPG). So is a folder
// dialog cancelled at start.
//
// The scans of the folders named at start-up also take the pictures named
// with them (`namedPictures`, paths spelled as the scan stores them) that lie
// in the folder, whatever the case of their ending: each is counted, stored
// and numbered at its place in the listing like any other picture.
class DirectoryScan {
public:
    DirectoryScan(ImageCatalogue& catalogue, NumberList& comImage, FolderChooser& chooser,
                  DirectoryListing& listing);

    // The first scan, into the fresh catalogue, with or without the dialog.
    // Afterwards imagePaths holds n paths and one empty element after them;
    // no folder (a cancel) leaves it empty: one empty element, lastIndex -1.
    void loadStartupDirectory();
    void loadStartupDirectory(const QString& folder, const QStringList& namedPictures = {});

    // Replaces the catalogue with the chosen folder's pictures (n paths and
    // one empty element), then shows the first of them: currentIndex becomes
    // 0 and `showImage` is called once, through showImageSequential, even
    // when the folder holds no picture, so nothing of the old folder stays.
    void changeDirectory(const ShowPicture& showImage);

    // Appends the chosen folder's pictures after lastIndex, keeping the
    // earlier paths, with no empty element after them. Shows nothing.
    void addDirectory();
    void addDirectory(const QString& folder, const QStringList& namedPictures = {});

private:
    // Both passes take the same entries: the pictures, and the names in
    // `named`. The count pass also notes the names that end in one of the
    // six endings in another case; the fill pass answers how many it stored.
    void countPass(const QStringList& named);
    int fillPass(const QStringList& named);
    void noteOtherCase(QStringView name);
    // The line for a folder whose scan stored nothing.
    void reportNoPicture() const;
    // Re-dimensions imagePaths to the indexes 0 to scanCounter.
    void redimension(bool keepPaths);

    ImageCatalogue& catalogue_;
    NumberList& comImage_;
    FolderChooser& chooser_;
    DirectoryListing& listing_;
    // Names of the count pass that end in one of the six in another case,
    // and those endings as they are spelt.
    int otherCase_ = 0;
    QStringList otherCaseEndings_;
};

} // namespace pictolune
