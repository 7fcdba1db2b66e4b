// What the viewer was asked to open on its command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vexel {

struct CommandLineRequest {
    // Set when the program was started as the crash reporter: "-crash <report>".
    std::optional<std::string> crashReport;
    std::vector<std::string> folders;
    std::vector<std::string> files;
    // A ZIP or DMZ archive to open alone; folders and files are then empty.
    std::optional<std::string> archive;
    // URIs that name no local file ("http://...", "smb://...", another host's file://):
    // never scanned as paths.
    std::vector<std::string> refused;
};

// arguments: the command line without the program name. Switches are exact and
// case-sensitive: "-f" (the starting mode) takes files or folders, "-d" folders only, and
// any other argument starting with '-' makes the following paths ignored until the next
// "-f" or "-d". In files mode an existing directory joins the folders, a ".zip"/".dmz"
// file becomes the archive and ends the parse, anything else joins the files. In folders
// mode paths join the folders without a test. Empty arguments are skipped. A DICOMDIR file
// (any case) in files mode opens its folder. A local "file://" URI (as a desktop may pass)
// becomes its decoded path; any other URI joins refused, unless it exists as a path.
CommandLineRequest ParseCommandLine(const std::vector<std::string>& arguments);

}  // namespace vexel
