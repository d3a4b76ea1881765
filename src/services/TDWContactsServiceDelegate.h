#pragma once

#include "services/TDWServiceDelegate.h"

// Contacts: a contact without photo is written as a vCard during the listing;
// one with a photo is left to the contact export, which fetches the photo.
class TDWContactsServiceDelegate : public TDWServiceDelegate
{
public:
    // Backed up (3) when the card was written; its file is then locked or
    // unlocked as "lockBackupFiles" says.
    void docRevFound(const TDWDocRev::Ptr &docRev) override;
};
