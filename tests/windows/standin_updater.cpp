// A stand-in updater for the elevation test: writes its command line, as
// Windows handed it over, to the file named by ULMORA_STANDIN_OUT.

#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main()
{
    const wchar_t* out = _wgetenv(L"ULMORA_STANDIN_OUT");
    if (!out)
        return 2;
    FILE* file = _wfopen(out, L"wb");
    if (!file)
        return 2;
    const wchar_t* line = ::GetCommandLineW();
    std::fwrite(line, sizeof(wchar_t), wcslen(line), file);
    std::fclose(file);
    return 0;
}
