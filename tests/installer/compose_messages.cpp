// Composes every message the installer can show, as its core does, for
// check_reading_order.py. Reads the string tables on stdin, a string a
// line: "<language> <id> <UTF-16 code units in hex>". Writes the names and
// literals it inserts ("name <hex>", "literal <hex>"), then each message,
// caption first, for a Kurdish user ("alone <hex>") and for one who reads
// Kurdish, then English ("both <hex>"): every string with the inserts in
// turn in each of its places, and the reports that nest strings, with
// the steps' own descriptions.
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "message_language.h"
#include "report.h"
#include "resource.h"
#include "steps.h"

namespace {

using namespace setup;

std::map<std::pair<LanguageId, unsigned>, std::wstring> tables;

std::wstring lookUp(LanguageId language, unsigned id) {
    const auto found = tables.find({language, id});
    return found == tables.end() ? std::wstring() : found->second;
}

// Windows' words for error 5 in Kurdish ("not allowed": REH WITH SMALL V
// BELOW, YEH WITH SMALL V, GAF, AE; NOON, AE, DAL, REH, ALEF) and in the
// user's language; for 3 in the user's only, for 32 in Arabic as the
// user's ("the file is used"), for 1235 none.
std::wstring windowsWords(LanguageId language, std::uint32_t error) {
    if (error == 5)
        return language == 0 ? L"Access is denied." : L"\u0695\u06CE\u06AF\u06D5 \u0646\u06D5\u062F\u0631\u0627.";
    if (language != 0)
        return {};
    return error == 3    ? L"The system cannot find the path specified."
           : error == 32 ? L"\u0627\u0644\u0645\u0644\u0641 \u0645\u0633\u062A\u062E\u062F\u0645."
                         : L"";
}

void print(const char* tag, const std::wstring& text) {
    std::printf("%s", tag);
    for (const wchar_t c : text)
        std::printf(" %04x", static_cast<unsigned>(c));
    std::printf("\n");
}

void compose(const MessageText& text) {
    for (const auto& [tag, language] : {std::pair{"alone", centralKurdishIraq}, {"both", englishUnitedStates}}) {
        const ShownMessage shown = composeMessage(language, language, IDS_TITLE, text, {lookUp, windowsWords});
        print(tag, shown.caption + L"\n" + shown.text);
    }
}

}  // namespace

int main() {
    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream fields(line);
        unsigned language = 0, id = 0, unit = 0;
        fields >> std::hex >> language >> std::dec >> id >> std::hex;
        while (fields >> unit)
            tables[{static_cast<LanguageId>(language), id}] += static_cast<wchar_t>(unit);
    }
    // Folder names "Kurdish keyboard" (KEHEH FARSI-YEH BEH OE REH DAL
    // FARSI-YEH, KEHEH WAW REH DAL FARSI-YEH) and "test" (TEH ALEF QAF
    // FARSI-YEH KEHEH REH DAL NOON AE WAW AE); arguments as typed, one a
    // Kurdish word after a slash.
    const std::wstring kurdish = L"\u06A9\u06CC\u0628\u06C6\u0631\u062F\u06CC \u06A9\u0648\u0631\u062F\u06CC";
    const std::wstring program = L"setup8.exe";
    const std::vector<std::wstring> names = {
        L"C:\\" + kurdish + L"\\Kurd.dll",
        L"C:\\Program Files (x86)\\" + kurdish + L"\\\u062A\u0627\u0642\u06CC\u06A9\u0631\u062F\u0646\u06D5\u0648\u06D5\\" +
            program,
        L"HKU\\S-1-5-21-1004336348-1177238915-682003330-1001\\Keyboard Layout\\Preload",
        L"/log", L"KURD_DLL_x64", program, L"/frobnicate", L"/" + kurdish.substr(8),
    };
    std::vector<MessageText> inserts;
    for (const std::wstring& text : names) {
        print("name", text);
        inserts.push_back(name(text));
    }
    for (const std::wstring text : {L"2c01", L"12"}) {
        print("literal", text);
        inserts.push_back(literal(text));
    }
    for (const std::uint32_t error : {5u, 3u, 32u, 1235u})
        inserts.push_back(windowsError(error));

    std::map<unsigned, bool> ids;
    for (const auto& [key, text] : tables)
        ids[key.second] = true;
    for (const auto& [id, present] : ids) {
        for (std::size_t first = 0; first < inserts.size(); ++first) {
            std::vector<MessageText> turn;
            for (std::size_t place = 0; place < 9; ++place)
                turn.push_back(inserts[(first + place) % inserts.size()]);
            compose(message(id, turn));
        }
    }
    for (const unsigned error : {IDS_UNKNOWN_ARGUMENT, IDS_LOG_WITHOUT_FILE, IDS_LOG_ON_DEVICE})
        compose(badArgumentsReport({std::nullopt, error, names[0]}, program).text);
    compose(usageReport(program).text);
    compose(cannotWriteLogReport(names[1], 5, program).text);
    RunResult done, restart, failed, notUndone;
    restart.restartNeeded = true;
    const User user{L"S-1-5-21-1004336348-1177238915-682003330-1001", false};
    const RegistryKey preload{Hive::Users, user.sid + L"\\Keyboard Layout\\Preload"};
    // What the steps' descriptions insert besides the names above.
    print("name", user.sid);
    print("name", L"2c01:a0002c01");
    print("literal", L"d0002c01");
    failed.succeeded = notUndone.succeeded = false;
    failed.failedChange = SetValue{preload, L"2", stringValue(L"d0002c01"), std::nullopt}.description();
    failed.error = 5;
    notUndone.notUndone = {PlaceFile{names[0], {}, true, names[0] + L".new", names[0] + L".old"}.description(),
                           UserLayoutCall{L"2c01:a0002c01", false, user}.description(), DeleteKey{preload, {}}.description()};
    for (const auto& [action, version, noUser, edited, foreign, result] :
         {std::tuple{Action::Install, 1000u, std::optional<WhyNoUser>{}, false, std::wstring(), done},
          {Action::Install, 601u, std::nullopt, false, L"", done},
          {Action::Install, 501u, std::nullopt, true, L"", done},
          {Action::Install, 1000u, WhyNoUser::NoOneSignedIn, false, L"", done},
          {Action::Install, 1000u, WhyNoUser::NotIdentified, false, L"", done},
          {Action::Install, 1000u, std::nullopt, false, L"", restart},
          {Action::Uninstall, 1000u, std::nullopt, false, names[0], done},
          {Action::Install, 1000u, std::nullopt, false, L"", failed},
          {Action::Uninstall, 1000u, std::nullopt, false, L"", notUndone}})
        compose(finishedReport({action, version, noUser, edited, foreign, result}).text);
    compose(problemReport(Action::Install, {IDS_NEWER_INSTALLED, {L"1.0.3.41", L"1.0.3.40"}}).text);
    // For every user, with profiles not reached: their folders, one with
    // Kurdish letters.
    RunResult unreached = restart;
    unreached.unreached = {L"C:\\Users\\" + kurdish, L"C:\\Users\\dave"};
    for (const std::wstring& folder : unreached.unreached)
        print("name", folder);
    for (const Action action : {Action::Install, Action::Uninstall}) {
        for (const RunResult& result : {done, unreached})
            compose(finishedReport({action, 1000u, std::nullopt, false, L"", result, true}).text);
    }
    return 0;
}
