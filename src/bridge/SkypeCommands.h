// What call control needs of the Skype link. CKestrelDlg implements it over the hidden API
// window; tests use fakes.
#pragma once

class SkypeCommands {
  public:
    virtual ~SkypeCommands() = default;
    // Sends the text now in commandText.
    virtual void SendSkypeCommand() = 0;
    // Answers the notification being handled with TRUE at once.
    virtual void ReplyTrue() = 0;
};
