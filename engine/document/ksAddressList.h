// E-mail address fields as typed into the settings: one text, several recipients.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// The recipients of an address field: split at commas outside double quotes (so
// "Smith, John" <js@example.org> is one), each trimmed of blanks, empty ones dropped.
// Blanks do not separate: John Smith <js@example.org> is one recipient. Inside quotes a
// backslash keeps the next character; an unclosed quote runs to the end.
std::vector<std::string> SplitAddressList(std::string_view text);
