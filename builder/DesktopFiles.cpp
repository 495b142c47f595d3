// DesktopFiles.cpp - crateforge_desktop_files, the build's helper for the
// files installed beside the program.
//
//   crateforge_desktop_files register PROGRAM DATADIR
//       writes into DATADIR (<prefix>/share) the desktop entry, the MIME
//       package and the scalable icons for the program installed at PROGRAM,
//       with the code the program runs at every start, so an installed copy
//       and a user's agree byte for byte. Refreshes no cache: a package's
//       triggers or the installer do that.
//   crateforge_desktop_files png SVG SIZE OUTPUT
//       renders SVG as a SIZE x SIZE PNG for the fixed-size icon folders.
//
// Exit status 0 when every file was written, 1 otherwise (each failure is
// named on standard error), 2 for a usage error.
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QSaveFile>
#include <cstdio>

#include "builder/Registration.h"

namespace {

int Usage() {
    std::fputs(
        "usage: crateforge_desktop_files register PROGRAM DATADIR\n"
        "       crateforge_desktop_files png SVG SIZE OUTPUT\n",
        stderr);
    return 2;
}

int Register(const QString& program, const QString& dataDir) {
    const crateforge::RegistrationResult result =
        crateforge::RegisterFileType(program, dataDir, [](const QString&, const QStringList&) {});
    for (const QString& failed : result.failed) {
        std::fprintf(stderr, "crateforge_desktop_files: cannot write %s\n", qPrintable(failed));
    }
    return result.failed.isEmpty() ? 0 : 1;
}

int RenderPng(const QString& svg, const QString& sizeText, const QString& output) {
    bool ok = false;
    const int size = sizeText.toInt(&ok);
    if (!ok || size < 1 || size > 1024) {
        return Usage();
    }
    QImageReader reader(svg, "svg");
    reader.setScaledSize(QSize(size, size));
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "crateforge_desktop_files: cannot render %s: %s\n", qPrintable(svg),
                     qPrintable(reader.errorString()));
        return 1;
    }
    if (image.width() != size || image.height() != size) {
        std::fprintf(stderr, "crateforge_desktop_files: %s rendered at %dx%d, not %dx%d\n",
                     qPrintable(svg), image.width(), image.height(), size, size);
        return 1;
    }
    QDir().mkpath(QFileInfo(output).absolutePath());
    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly) || !image.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "crateforge_desktop_files: cannot write %s\n", qPrintable(output));
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // The image plugins (SVG among them) are found through the application.
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments().mid(1);
    if (args.size() == 3 && args[0] == QStringLiteral("register")) {
        return Register(args[1], args[2]);
    }
    if (args.size() == 4 && args[0] == QStringLiteral("png")) {
        return RenderPng(args[1], args[2], args[3]);
    }
    return Usage();
}
