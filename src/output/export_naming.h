// Names of exported files and folders: safe for any file system the user exports to, never
// reaching outside the chosen folder and never reusing a name an earlier export wrote.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vexel {

// A patient name or study date made usable as one folder name: separators, control characters
// (C0, DEL, C1), bytes that are not UTF-8 and : * ? " < > | become "_"; leading and trailing dots
// and spaces go; a Windows device name (CON, LPT1, "con.txt") gets "_" after its stem; at most
// 100 bytes, cut between characters. "" when nothing is left (so "." and ".." never survive).
std::string SafeFolderName(std::string_view name);

// A study's displayed date and time as a folder name: every character other than 0-9, A-Z and
// a-z becomes "_" ("2012-03-05 10:22" gives "2012_03_05_10_22").
std::string DateFolderName(std::string_view dateTime);

// A user's file name prefix must stay one file name: no "/" or "\", no control characters,
// and at most 200 bytes so that number, extension and the temporary name fit NAME_MAX.
bool PrefixIsValid(std::string_view prefix);

// "IMG-0007-" for run 7: the prefix of an export with an empty prefix field.
std::string DefaultPrefix(uint32_t run);
// prefix + five-digit number + "." + extension.
std::string ImageFileName(std::string_view prefix, uint32_t number, std::string_view extension);
// (prefix, or "movie" when empty) + five-digit counter + "." + extension.
std::string MovieFileName(std::string_view prefixOrEmpty, uint32_t counter,
                          std::string_view extension);

// The first run n >= from (and >= 1) whose default prefix no entry of the folder starts with
// (case-insensitively), so a new export never meets an earlier one's files. The search ends
// after as many steps as the folder has such entries; 0 when the counter would wrap. A folder
// that cannot be listed gives from: the writers never overwrite anyway.
uint32_t FirstFreeRun(const std::filesystem::path& folder, uint32_t from);

// The folder a user typed, with or without a trailing "/", resolved to its real path;
// nullopt for an empty text or one that does not name an existing directory.
std::optional<std::filesystem::path> ExportFolder(std::string_view typed);

// Creates the patient and study folders of an export of every opened series, each a direct
// child of the export folder (patients) or of the current patient's folder (studies). With
// anonymous annotations folders are numbered and hold no name or date. A name equal, ignoring
// ASCII case, to one made earlier in this export or to an entry already in the parent gets
// "_2", "_3", ...: folders never merge, also on case-insensitive file systems (where mkdir's
// own refusal catches the non-ASCII case pairs).
class CExportFolders {
public:
    CExportFolders(std::filesystem::path exportFolder, bool anonymous);

    // The new patient's folder, which later studies go into; nullopt (with the reason in
    // error) when it cannot be made.
    std::optional<std::filesystem::path> AddPatient(std::string_view displayedName,
                                                    std::string* error = nullptr);
    // The new study folder inside the current patient's folder.
    std::optional<std::filesystem::path> AddStudy(std::string_view displayedDateTime,
                                                  std::string* error = nullptr);

private:
    std::optional<std::filesystem::path> MakeUnique(const std::filesystem::path& parent,
                                                    const std::string& base,
                                                    std::set<std::string>& made,
                                                    std::string* error);

    std::filesystem::path m_exportFolder;
    bool m_anonymous;
    uint32_t m_patients = 0;         // patient folders made (anonymous numbering)
    uint32_t m_unnamedPatients = 0;  // patients without a name
    uint32_t m_studies = 0;          // studies of the current patient (anonymous numbering)
    uint32_t m_undatedStudies = 0;   // studies of the current patient without a date
    std::optional<std::filesystem::path> m_patientFolder;
    std::set<std::string> m_patientNames;  // case-folded names made in the export folder
    std::set<std::string> m_studyNames;    // case-folded names made in the patient folder
};

}  // namespace vexel
