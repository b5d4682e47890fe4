// The small tag language of formatted text: <B>, <I>, <U>, <StrikeOut> and their closing
// tags change the current font's style, <FONT SIZE= COLOR= FACE= CHARSET=> pushes a font
// and </FONT> pops it. The walk hands every run of equally formatted text to a callback.
#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "content/ksPDFFont.h"

// The font formatted text starts with: Arial 12, ANSI, black.
TksFont FormattedTextBottomFont();
// A COLOR value: one of the sixteen web colour names, or "#RRGGBB"; black otherwise.
TksColor FormattedTextColour(std::u16string_view value);
// A CHARSET value ("RUSSIAN_CHARSET", ...); 0 for any other name.
uint8_t FormattedTextCharset(std::u16string_view value);

// Walks text; flush receives each non-empty run with the font it is drawn in, in order.
// A SIZE that is no whole number of 1 or more raises EInvalidValueError; runs handed on
// before stay handed on. An unterminated tag ends at the end of the text.
void WalkFormattedText(std::u16string_view text,
                       const std::function<void(const TksFont& font, const std::u16string& run)>& flush);
