// quorvel-publish: writes the download list "qdf.lst" into the folder the download server
// serves, from a descriptions file, after checking every name, description and file.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "exchange/core/ListPublisher.h"
#include "model/Errors.h"
#include "model/Text.h"
#include "platform/FileIO.h"

using namespace quorvel;

namespace {

constexpr const char* kUsage =
    "Usage: quorvel-publish [--descriptions FILE] FOLDER\n"
    "\n"
    "Writes FOLDER/qdf.lst, the list of group data files that Quorvel's Download tab\n"
    "offers, from FILE (default FOLDER/descriptions.txt): one line per file of FOLDER to\n"
    "offer, its name, a comma and its description, for example\n"
    "    cars.qdf,Used-car sites that take free ads\n"
    "Empty lines and lines beginning with # are skipped.  Every name, description and\n"
    "file is checked first; on any problem each one is named and nothing is written.\n";

std::string local(const QString& s) { return QFile::encodeName(s).toStdString(); }

void say(const std::string& text) { std::fprintf(stderr, "quorvel-publish: %s\n", text.c_str()); }

std::string systemText(const InOutError& e) { return std::strerror(e.code()); }

// Group data files lying in the folder that the descriptions leave out: most likely an
// oversight, so they are named, but they are not an error.
void noteUnlisted(const QDir& folder, const std::vector<ListEntry>& entries,
                  const QString& descriptionsName) {
    for (const QString& name : folder.entryList({QStringLiteral("*.qdf")}, QDir::Files,
                                                QDir::Name)) {
        const std::string n = name.toStdString();
        const bool listed = std::any_of(entries.begin(), entries.end(),
                                        [&](const ListEntry& e) { return e.name == n; });
        if (!listed)
            say("note: " + local(folder.filePath(name)) + " is not in " +
                local(descriptionsName) + ", so it is not listed.");
    }
}

}  // namespace

int main(int argc, char** argv) {
    QString folderArg, descriptionsArg;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if ((a == "--descriptions" || a == "-d") && i + 1 < argc) {
            descriptionsArg = QFile::decodeName(argv[++i]);
        } else if (!a.starts_with('-') && folderArg.isNull()) {
            folderArg = QFile::decodeName(argv[i]);
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (folderArg.isEmpty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const QDir folder(folderArg);
    if (!QFileInfo(folderArg).isDir()) {
        say(local(folderArg) + ": no such folder.");
        return 2;
    }
    if (descriptionsArg.isEmpty()) descriptionsArg = folder.filePath(QStringLiteral("descriptions.txt"));

    std::string descriptions;
    try {
        descriptions = readWholeFile(descriptionsArg);
    } catch (const InOutError& e) {
        say("cannot read " + local(descriptionsArg) + ": " + systemText(e));
        return 1;
    }
    const auto readFile = [&folder](const std::string& name) -> std::optional<std::string> {
        const QString path = folder.filePath(QString::fromStdString(name));
        if (!QFileInfo(path).isFile()) return std::nullopt;
        try {
            return readWholeFile(path);
        } catch (const InOutError& e) {
            // What this account cannot read, nginx's may not either.
            throw QuorvelError("It cannot be read: " + systemText(e) + ".");
        }
    };
    const PublishedList list =
        publishList(descriptions, local(QFileInfo(descriptionsArg).fileName()), readFile);
    for (const std::string& p : list.problems) say(p);
    if (!list.problems.empty()) {
        say("nothing written; " + std::to_string(list.problems.size()) +
            (list.problems.size() == 1 ? " problem." : " problems."));
        return 1;
    }
    noteUnlisted(folder, list.entries, QFileInfo(descriptionsArg).fileName());

    const QString target = folder.filePath(QString::fromUtf8(kListFileName.data(),
                                                             qsizetype(kListFileName.size())));
    try {
        writeWholeFile(target, list.bytes);
    } catch (const InOutError& e) {
        say("cannot write " + local(target) + ": " + systemText(e) + "; it is left as it was.");
        return 1;
    }
    std::printf("Wrote %s: %zu %s.\n", local(target).c_str(), list.entries.size(),
                list.entries.size() == 1 ? "file" : "files");
    return 0;
}
