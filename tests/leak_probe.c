/* The judge's comparison as it would be without the volatile table: at -O3
   GCC folds the mask away and compares against the plain characters of
   "Qj8%w". The password scan must find that word here. */
int LeakProbe(const char *text)
{
    const unsigned int masked[5] = { 0x0D, 0x36, 0x64, 0x79, 0x2B };
    const unsigned char mask = 0x5C;
    for (int i = 0; i < 5; i++)
        if ((unsigned char)text[i] != (unsigned char)(masked[i] ^ mask))
            return 0;
    return 1;
}

int main(int argc, char **argv)
{
    return argc > 1 && LeakProbe(argv[1]);
}
