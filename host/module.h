// Module start-up pieces that tests reach directly: the language rule and the
// texts it selects.
#ifndef HOST_MODULE_H
#define HOST_MODULE_H

#include <windows.h>

// Japanese, Japan: the one language identifier that selects Japanese texts.
enum { JapaneseLanguageId = 1041 };

int IsJapaneseLanguage(LANGID language);

// Format of the warning shown when the module has no handle to load its
// resources from; its one argument is the expected file name.
const char* ChooseLoadFailureFormat(LANGID language);

#endif
