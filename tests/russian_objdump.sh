#!/bin/sh
# Stands in for an objdump that speaks Russian: its file header is not the
# English one that the scan reads.
for file in "$@"; do
    case $file in -*) continue ;; esac
    printf '\n%s:     формат файла pei-i386\n\n\nДизассемблирование раздела .text:\n\n' "$file"
    printf '00401000 <.text>:\n  401000:\t55                   \tpush   %%ebp\n'
done
