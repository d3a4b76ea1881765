#pragma once

// Bit values of folder and message flags and of the fetch request kinds. Folder
// and message flags are stored in the mail store and compared as numbers, so
// these values are fixed for good: never renumber them.

// Attributes of a folder in a LIST/XLIST reply (RFC 3501, RFC 6154, XLIST).
enum TDWImapFolderFlag : int {
    TDWImapFolderFlagNone = 0,
    TDWImapFolderFlagMarked = 1 << 0,
    TDWImapFolderFlagUnmarked = 1 << 1,
    TDWImapFolderFlagNoSelect = 1 << 2,
    TDWImapFolderFlagNoInferiors = 1 << 3,
    TDWImapFolderFlagInbox = 1 << 4,
    TDWImapFolderFlagSent = 1 << 5,
    TDWImapFolderFlagStarred = 1 << 6,
    TDWImapFolderFlagAllMail = 1 << 7,
    TDWImapFolderFlagTrash = 1 << 8,
    TDWImapFolderFlagDrafts = 1 << 9,
    TDWImapFolderFlagSpam = 1 << 10,
    TDWImapFolderFlagImportant = 1 << 11,
    TDWImapFolderFlagArchive = 1 << 12,
    TDWImapFolderFlagHasChildren = 1 << 13,
    TDWImapFolderFlagHasNoChildren = 1 << 14,
};

// System flags and the standard keywords a message can carry. Other keywords
// leave these bits alone.
enum TDWImapMessageFlag : int {
    TDWImapMessageFlagNone = 0,
    TDWImapMessageFlagSeen = 1 << 0,
    TDWImapMessageFlagAnswered = 1 << 1,
    TDWImapMessageFlagFlagged = 1 << 2,
    TDWImapMessageFlagDeleted = 1 << 3,
    TDWImapMessageFlagDraft = 1 << 4,
    TDWImapMessageFlagMDNSent = 1 << 5,
    TDWImapMessageFlagForwarded = 1 << 6,
    TDWImapMessageFlagSubmitPending = 1 << 7,
    TDWImapMessageFlagSubmitted = 1 << 8,
};

// What a message fetch asks for besides the UID, which always comes. Gmail's
// items are only asked of servers that announce X-GM-EXT-1.
enum TDWImapMessagesRequestKind : int {
    TDWImapMessagesRequestKindUid = 0,
    TDWImapMessagesRequestKindFlags = 1 << 0,
    TDWImapMessagesRequestKindHeaders = 1 << 1,
    // Body structure: accepted for callers that pass it; this layer keeps no body structure.
    TDWImapMessagesRequestKindStructure = 1 << 2,
    TDWImapMessagesRequestKindInternalDate = 1 << 3,
    TDWImapMessagesRequestKindHeaderSubject = 1 << 5,
    TDWImapMessagesRequestKindGmailLabels = 1 << 6,
    TDWImapMessagesRequestKindGmailMessageID = 1 << 7,
    TDWImapMessagesRequestKindGmailThreadID = 1 << 8,
    TDWImapMessagesRequestKindSize = 1 << 10,
};

// How a session reaches its server.
enum TDWImapConnectionType : int {
    TDWImapConnectionTypeClear = 1 << 0,
    TDWImapConnectionTypeStartTLS = 1 << 1,
    TDWImapConnectionTypeTLS = 1 << 2,
};

// How a session signs in.
enum TDWImapAuthType : int {
    TDWImapAuthTypeNone = 0,
    TDWImapAuthTypeXOAuth2 = 1 << 8,
};
