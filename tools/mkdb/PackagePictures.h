#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

namespace tarvik {

// A package type as the register stores it, with a picture file made for it.
struct PackagePicture {
    QString name;      // upper case, as every package name is stored
    QString fileName;  // the picture file's name, as if the user had chosen it
    QByteArray format; // as QImageReader names it: "bmp", "jpeg" or "gif"
    QByteArray bytes;  // the complete picture file
};

// The ten package types a workshop meets most, for the register delivered with the program.
QList<PackagePicture> commonPackagePictures();

// Fifty package types: the ten common ones, then variants, for large benchmark registers.
QList<PackagePicture> allPackagePictures();

// An outline of the named package (body, leads, pin-1 mark, the name), drawn at the size
// of every package picture; a plain labelled box for a name it does not know.
// Needs a QGuiApplication for the text.
QImage drawPackage(const QString& name);

} // namespace tarvik
