#pragma once

#include <QString>

// Whether a package is signed by the printer's maker, with debsig-verify.
// The maker's keys are debsig policies (/etc/debsig/policies/<key id>/*.pol)
// with their keyrings (/usr/share/debsig/keyrings/<key id>/). Checking is
// opt-in: a board that holds no policy installs packages unchecked.
//
// BREVDAEMON_DEBSIG_ROOT names another root for both folders (tests).
namespace SignatureCheck {

bool makerKeyInstalled();

// Whether `package` carries an origin signature that one of the maker's
// policies accepts; says why not on stderr.
bool signedByMaker(const QString &package);

} // namespace SignatureCheck
