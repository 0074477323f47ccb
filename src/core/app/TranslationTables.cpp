#include "core/app/TranslationTables.h"

#include <iterator>

#include "core/app/Messages.h"

namespace zelko {
namespace {

const MenuTranslation kMenu[] = {
    {0, "&Project", "Проект"},
    {32784, "&New", "Новый"},
    {32780, "&Open...", "Открыть..."},
    {32783, "&Reload", "Перезагрузить"},
    {32781, "&Save", "Сохранить"},
    {32782, "Save &As...", "Сохранить как..."},
    {32792, "&Close", "Закрыть"},
    {1015, "Auto-&Program", "Автопрограммирование"},
    // Replaced by the recent projects once there are any; then it matches nothing.
    {32800, "Recent Projects", "Проекты"},
    {1056, "&Exit", "Выход"},
    {1006, "&Load...", "Открыть..."},
    {32908, "Load A&t...", "Открыть по адресу..."},
    {32790, "&Reload...", "Перезагрузить"},
    {32776, "Save", "Сохранить"},
    {32774, "Save &As...", "Сохранить как..."},
    {32771, "Close", "Закрыть"},
    {1009, "&Program", "Программировать"},
    {1010, "&Verify", "Проверить"},
    {1013, "&Read", "Прочитать"},
    {1007, "&Load...", "Открыть..."},
    {32909, "Load &At...", "Открыть по адресу..."},
    {32791, "&Reload...", "Перезагрузить"},
    {32772, "Save", "Сохранить"},
    {32775, "Save &As...", "Сохранить как..."},
    {32773, "Close", "Закрыть"},
    {1011, "&Program", "Программировать"},
    {1012, "&Verify", "Проверить"},
    {1014, "&Read", "Прочитать"},
    {-3, "&Settings", "Настройки"},
    {32795, "&Project Settings...", "Настройки проекта..."},
    {1016, "&Lock&&Fuse Bits...", "Lock/Fuse биты..."},
    {32785, "&Interface Settings...", "Настройки интерфейса..."},
    {32907, "Select &Language...", "Язык/Language..."},
    {-4, "&Advanced", "Дополнительно"},
    {32779, "&Empty Check...", "Проверка на чистоту..."},
    {32777, "&Read Signature...", "Чтение сигнатуры..."},
    {32904, "Read &Calibration Bytes...", "Чтение калибровочных байтов..."},
    {32901, "&Programmer Info...", "Информация о программаторе..."},
    {32910, "&Update firmware version...", "Обновить версию прошивки..."},
    {-5, "&Help", "Помощь"},
    {32789, "&Guide", "Справка"},
    {16, "&About", "О программе..."},
};

// Project settings.
const DialogEntry kProjectSettings[] = {
    {3001, "Enable data polling", "Использовать опрос готовности"},
    {3002, "Auto check signature", "Автопроверка сигнатуры"},
    {3003, "Disable skipping over FFs", "Не пропускать байты FF"},
    {1063, "Erase Chip", "Стирание микросхемы"},
    {1069, "Blank Check", "Проверка на чистоту"},
    {1060, "Reload", "Перезагрузить"},
    {1061, "Program", "Программировать"},
    {1062, "Verify", "Проверить"},
    {1064, "Reload", "Перезагрузить"},
    {1065, "Program", "Программировать"},
    {1066, "Verify", "Проверить"},
    {1117, "SCK Settings", "Настройки SCK"},
    {1116, "Programming Settings", "Настройки программирования"},
    {1119, "Autoprogram Settings", "Настройки автопрограммирования"},
    {1120, "General", "Общие"},
    {1121, "Flash", "Flash"},
    {1122, "Eeprom", "Eeprom"},
    {2, "&Cancel", "Отмена"},
    {1124, "Autoincrement", "Автоинкремент"},
    {1118, "Reset strobe length", "Длительность импульса сброса"},
    {1123, "Lock and Fuse Bits", "Lock и fuse биты"},
    {1144, "Autoprogram", "Автопрограммирование"},
    {1151, "Fuses first operation", "Fuse биты в первую очередь"},
    {3, "Configure...", "Настроить..."},
    {1126, "Device:", "Микросхема:"},
    {1125, "Delays overriring", "Переопределение задержек"},
    {1140, "Flash BYTE", "Flash, байт"},
    {1141, "Flash PAGE", "Flash, страница"},
    {1147, "Eeprom BYTE", "Eeprom, байт"},
    {1149, "Eeprom PAGE", "Eeprom, страница"},
    // Kept for the label beside the SPI period list, but not counted: that
    // label shows no caption.
    {1146, "Clock SPI", "Частота SPI"},
};

const DialogEntry kInterfaceSettings[] = {
    {1113, "Communication port", "COM-порт"},
    {1114, "Baud rate", "Скорость обмена"},
    {10001, "Low speed", "Низкая скорость"},
    {10002, "Standard speed", "Стандартная скорость"},
    {10003, "Turbo 1 (fw v.10.14+ required)", "Турбо 1 (нужна прошивка v.10.14+)"},
    {10004, "Turbo 2 (fw v.10.14+ required)", "Турбо 2 (нужна прошивка v.10.14+)"},
    {10005, "Turbo 3", "Турбо 3"},
    {2, "Cancel", "Отмена"},
};

const DialogEntry kAbout[] = {
    {1104, "ZELKO Software", "Программа ZELKO"},
    {1107, "Version 11.68, June 2018", "Версия 11.68, июнь 2018"},
    {1105, "For Linux, 64 bit", "Для Linux, 64 бит"},
    {1, "OK", "OK"},
};

const DialogEntry kLanguage[] = {
    {2, "Cancel", "Отмена"},
    {1104, "Language", "Язык"},
    {1125, "English/Английский", "English/Английский"},
    {1126, "Russian/Русский", "Russian/Русский"},
};

const DialogEntry kMainWindow[] = {
    {1079, "Device", "Микросхема"},
    {1009, "Program Flash", "Программир. Flash"},
    {1013, "Read Flash", "Чтение Flash"},
    {1010, "Verify Flash", "Проверка Flash"},
    {1011, "Program Eeprom", "Программир. Eeprom"},
    {1014, "Read Eeprom", "Чтение Eeprom"},
    {1012, "Verify Eeprom", "Проверка Eeprom"},
    {1015, "Autoprogram", "Автопрограммир."},
    {1103, "Read signature", "Чтение сигнатуры"},
    {1008, "Chip erase", "Стирание микросхемы"},
    {32779, "Blank check", "Проверка на чистоту"},
};

const DialogEntry kProgress[] = {
    {2, "Cancel", "Отмена"},
};

const DialogEntry kLockFuse[] = {
    {1114, "Lock Bits", "Lock биты"},
    {1115, "Fuse Bits", "Fuse биты"},
    {1134, "Boot Lock Bits", "Boot lock биты"},
    {1132, "Program", "Программировать"},
    {3, "Read", "Прочитать"},
    {4, "Verify", "Проверить"},
    {5, "Chip Erase", "Стереть микросхему"},
    {2, "Close without saving", "Закрыть без сохранения"},
    {1160, "Close and save settings", "Закрыть и сохранить настройки"},
    {1138, "A button is pressed if the fuse bit is programmed (0)",
     "Нажатая кнопка обозначает, что fuse бит запрограммирован (0)"},
};

const DialogEntry kLoadAddress[] = {
    {2, "Cancel", "Отмена"},
    {1131, "Start address", "Начальный адрес"},
    {1129, "Decimal", "Десятичный"},
    {1130, "Hexadecimal", "Шестнадцатеричный"},
};

// The version labels are cleared first and then set to "-", so a later entry
// for the same control wins.
const DialogEntry kSelfProgram[] = {
    {1153, "Firmware version information", "Информация о версии прошивки"},
    {1154, "Current version", "Текущая версия"},
    {1156, "New version", "Новая версия"},
    {1155, "", ""},
    {1157, "", ""},
    {1155, "-", "-"},
    {1157, "-", "-"},
    {1, "Update", "Обновить"},
    {2, "Cancel", "Отмена"},
};

template <size_t N>
constexpr int Count(const DialogEntry (&)[N])
{
    return static_cast<int>(N);
}

const DialogTranslation kDialogs[] = {
    {138, "Project Settings", "Настройки проекта", Count(kProjectSettings) - 1, kProjectSettings},
    {130, "Interface Settings", "Настройки интерфейса", Count(kInterfaceSettings), kInterfaceSettings},
    {132, "About", "О программе", Count(kAbout), kAbout},
    {148, "Language", "Язык", Count(kLanguage), kLanguage},
    // The main window, the progress dialog and the lock/fuse dialog set their
    // real titles themselves after translation.
    {102, "", "", Count(kMainWindow), kMainWindow},
    {129, "", "", Count(kProgress), kProgress},
    {140, "", "", Count(kLockFuse), kLockFuse},
    {149, "Load Address", "Адрес загрузки", Count(kLoadAddress), kLoadAddress},
    {150, "Self-Program Settings", "Обновление прошивки программатора", Count(kSelfProgram),
     kSelfProgram},
};

bool Russian()
{
    return LanguageRussian.load(std::memory_order_relaxed);
}

}  // namespace

std::span<const MenuTranslation> MenuTranslations()
{
    return {kMenu, std::size(kMenu)};
}

std::span<const DialogTranslation> DialogTranslations()
{
    return {kDialogs, std::size(kDialogs)};
}

const DialogTranslation* FindDialogTranslation(int dialogId)
{
    for (const DialogTranslation& row : kDialogs) {
        if (row.dialogId == dialogId)
            return &row;
    }
    return nullptr;
}

const char* CurrentText(const MenuTranslation& row)
{
    return Russian() ? row.russian : row.english;
}

const char* CurrentText(const DialogEntry& entry)
{
    return Russian() ? entry.russian : entry.english;
}

const char* CurrentTitle(const DialogTranslation& row)
{
    return Russian() ? row.russianTitle : row.englishTitle;
}

std::vector<ControlCaption> DialogCaptions(int dialogId)
{
    std::vector<ControlCaption> captions;
    const DialogTranslation* row = FindDialogTranslation(dialogId);
    if (!row)
        return captions;
    const bool russian = Russian();
    for (const DialogEntry& entry : row->Applied()) {
        const char* text = russian ? entry.russian : entry.english;
        bool replaced = false;
        for (ControlCaption& caption : captions) {
            if (caption.controlId == entry.controlId) {
                caption.text = text;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            captions.push_back({entry.controlId, text});
    }
    return captions;
}

}  // namespace zelko
