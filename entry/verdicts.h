/* The judge's words: the verdict boxes' texts and captions, code page 1251.
   Plain macros: the window's driver and the Linux tests read them without
   <windows.h>. */
#ifndef VERDICTS_H
#define VERDICTS_H

/* "НЕУДАЧА (попробуйте еще раз)!", captioned "ERROR". */
#define SZ_FAILURE_TEXT "\xCD\xC5\xD3\xC4\xC0\xD7\xC0 (\xEF\xEE\xEF\xF0\xEE\xE1\xF3\xE9\xF2\xE5 " \
                        "\xE5\xF9\xE5 \xF0\xE0\xE7)!"
#define SZ_FAILURE_CAPTION "ERROR"

/* "ПОБЕДА! Можете сдавать РАБОТУ!", captioned "УДАЧА!". */
#define SZ_SUCCESS_TEXT "\xCF\xCE\xC1\xC5\xC4\xC0! \xCC\xEE\xE6\xE5\xF2\xE5 " \
                        "\xF1\xE4\xE0\xE2\xE0\xF2\xFC \xD0\xC0\xC1\xCE\xD2\xD3!"
#define SZ_SUCCESS_CAPTION "\xD3\xC4\xC0\xD7\xC0!"

#endif
