// Messages added to the catalogue, ids from 2000 up. Same rule as the main
// table: both columns carry the same printf conversions in the same order.
//
// Id ranges: 2000-2019 image and project files, 2020-2039 serial link and
// identification, 2040-2059 memory operations, 2060-2079 lock/fuse bits and
// auto-program.
#include <iterator>

#include "core/app/Messages.h"

namespace zelko {
namespace {

const CatalogueRow kExtraRows[] = {
    {2000, "'%s' is not a valid Intel HEX file; it was loaded as raw binary (%d bytes)",
     "Файл '%s' не является правильным файлом Intel HEX; он загружен как двоичный (байт: %d)"},
    // Project files.
    {2010, "Cannot save project file '%s'",
     "Не удаётся сохранить файл проекта '%s'"},
    // Serial link and identification.
    {2020, "Cannot open %s: %s",
     "Не удаётся открыть %s: %s"},
    {2021, "You are not a member of the group \"%s\" that owns the device: run \"sudo usermod -aG %s $USER\", then log out and log in again.",
     "Вы не входите в группу «%s», которой принадлежит устройство: выполните «sudo usermod -aG %s $USER», затем выйдите из системы и войдите снова."},
    {2022, "The port is in use by another program.",
     "Порт занят другой программой."},
    {2023, "No device is set for port %d (settings value Ports/COM%d) and no serial device was found for it.",
     "Для порта %d не задано устройство (параметр Ports/COM%d), и последовательный порт для него не найден."},
    {2024, "This is not a serial device.",
     "Это устройство не является последовательным портом."},
    {2025, "The device could not be opened.",
     "Не удалось открыть устройство."},
    {2026, "The programmer keeps sending data without a pause; the port may lead to another device.",
     "Программатор непрерывно передаёт данные; возможно, к порту подключено другое устройство."},
    {2027, "%s\nVoltage: 3.3 ... 5.0 V\nSerial number: not available",
     "%s\nРабочее напряжение: 3.3...5.0 В\nСерийный номер: недоступен"},
    {2028, "The board simulator is not available in this program.",
     "Симулятор программатора в этой программе недоступен."},
    // Memory operations.
    {2040, "Firmware image %s is %lld bytes long instead of 12288; the update was not started.",
     "Образ микропрограммы %s имеет длину %lld байт вместо 12288; обновление не начато."},
    {2041, "Firmware image %s was not found or cannot be read; the update was not started.",
     "Образ микропрограммы %s не найден или не читается; обновление не начато."},
    {2042, "Current version: %s\nNew version: %s\n\nUpdate the programmer's firmware now?",
     "Текущая версия: %s\nНовая версия: %s\n\nОбновить микропрограмму программатора сейчас?"},
    // Lock/fuse bits and auto-program.
    {2060, "Autoprogram: EEPROM steps skipped, the EEPROM buffer is empty",
     "Автопрограммирование: шаги EEPROM пропущены, буфер EEPROM пуст"},
    {2061, "Autoprogram: Flash steps skipped, the Flash buffer is empty",
     "Автопрограммирование: шаги Flash пропущены, буфер Flash пуст"},
};

}  // namespace

std::span<const CatalogueRow> ExtraMessages()
{
    return {kExtraRows, std::size(kExtraRows)};
}

}  // namespace zelko
