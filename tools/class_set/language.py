"""The languages people read: English, the source, and Russian, from the
gettext catalogs in translations/ (messages.po), compiled where they are
read (build/class-set/translations), as Flask-Babel and the slips and
reports read them."""
import os
import tempfile

from . import ROOT


LANGUAGES = ('en', 'ru')


def N_(message):
    """Return a message for the catalogs, said in the reader's language where it is shown."""
    return message


def N_plural(singular, plural):
    """Return the same for a message with a number in it."""
    return singular, plural
CATALOGS = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'translations')
COMPILED = os.path.join(ROOT, 'build', 'class-set', 'translations')


def compiled():
    """Return the folder of the compiled catalogs, compiled again where a catalog is newer."""
    from babel.messages.mofile import write_mo
    from babel.messages.pofile import read_po
    for language in LANGUAGES[1:]:
        po = os.path.join(CATALOGS, language, 'LC_MESSAGES', 'messages.po')
        mo = os.path.join(COMPILED, language, 'LC_MESSAGES', 'messages.mo')
        if os.path.exists(mo) and os.path.getmtime(mo) >= os.path.getmtime(po):
            continue
        os.makedirs(os.path.dirname(mo), exist_ok=True)
        with open(po, 'rb') as f:
            catalog = read_po(f, locale=language)
        fd, temporary = tempfile.mkstemp(dir=os.path.dirname(mo))
        with open(fd, 'wb') as f:
            write_mo(f, catalog)
        os.replace(temporary, mo)  # whole, also where two commands compile at once
    return COMPILED


def translations(language):
    """babel Translations for `language` ('en': the messages as they are)."""
    from babel.support import NullTranslations, Translations
    if language == 'en':
        return NullTranslations()
    return Translations.load(compiled(), [language])


def said(refusal, gettext):
    """Return a Refusal's message in the reader's language, its parameters too."""
    params = {k: said(v, gettext) if hasattr(v, 'params') else v for k, v in refusal.params.items()}
    return gettext(refusal.message) % params if params else gettext(refusal.message)
