#include "entry.h"

#include <cstdint>

#include "password_masked.h"

EntryOutcome CheckEntry(const char *text, int length)
{
    /* volatile: the table must be unmasked here at run time, one character
       at a time; otherwise the optimiser folds the mask away and compares
       against the plain characters. */
    volatile uint32_t MaskedPassword[5] = { MASKED_PASSWORD_LITERALS };
    const unsigned char PasswordMask = PASSWORD_MASK_LITERAL;

    /* Enter in a multi-line field inserts CR LF: an entry is complete when
       the text ends in the line feed, and five characters and CR LF are 7
       bytes. Only the five and the final line feed are judged, so byte 5
       may be anything: the password followed by " \n" is accepted too. */
    if (length < 1 || text[length - 1] != '\n')
        return Incomplete;
    if (length != 7)
        return Rejected;
    for (int i = 0; i < 5; i++) {
        unsigned char expected = (unsigned char)(MaskedPassword[i] ^ PasswordMask);
        if ((unsigned char)text[i] != expected)
            return Rejected;
    }
    return Accepted;
}
