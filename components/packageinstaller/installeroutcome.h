#pragma once

// Exit statuses of install-package, one for each way an installation ends.
// They stay clear of 1 and 2, which a program that fails to run it (a shell,
// systemd-run) reports for its own troubles.
enum InstallerOutcome : int {
    Installed = 0,
    NoPackageFile = 10,    // the file is gone or is no regular file
    NotCopied = 11,        // the file could not be copied into the installer's own folder
    NotSignedByMaker = 12, // a maker's key is installed and the package is not signed by it
    DpkgNotStarted = 13,
    DpkgFailed = 14,       // dpkg failed on the package or refused a downgrade
    BadArguments = 15,
};
