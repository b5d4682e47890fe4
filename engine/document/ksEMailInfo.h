// What a caller needs to send a saved document by e-mail. The engine only carries it: the
// settings dialog fills it in, nothing in the engine sends mail or reads it afterwards.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TksEMailInfo {
  std::string Host;
  std::string UserID;
  std::string Password;
  std::vector<std::string> Attachments;
  // One entry per message text; the dialog appends on every confirmation.
  std::vector<std::string> Body;
  // Days since 30 December 1899, as the desktop's date-time values count them.
  double Date = 0;
  std::string FromAddress;
  std::string FromName;
  std::string ReplyTo;
  std::string Subject;
  std::vector<std::string> RecipientList;
  std::vector<std::string> CCList;
  std::vector<std::string> BCCList;
  bool AuthenticationRequired = false;
  int32_t Port = 25;
};
