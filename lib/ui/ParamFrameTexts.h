// Texts of the parameter window, exactly as the operator sees them.
#pragma once

namespace zarvik::texts {

inline constexpr const char* kCaption = "Программирование параметров ТРК";
inline constexpr const char* kComPort = "№ СОМ-порта";
inline constexpr const char* kAddress = "Адрес ТРК";
inline constexpr const char* kNozzleAddress = "Адрес пистолета";
inline constexpr const char* kReadAll = "Прочитать все параметры";
inline constexpr const char* kCalcKoef = "Изменить юстировочный коэффициент";
inline constexpr const char* kClose = "Закрыть (Esc)";
inline constexpr const char* kListColumn = "Наименование";
inline constexpr const char* kTabCaptions[3] = {"Таблица 1", "Таблица 2", "Таблица 3"};
// "Номер ряда   (от 1 до " n ")"
inline constexpr const char* kRowRangePrefix = "Номер ряда   (от 1 до ";

inline constexpr const char* kReadingParameter = "Чтение параметра №%1";
inline constexpr const char* kReadingDone = "Чтение параметров завершено";
inline constexpr const char* kLinkError = "Ошибка связи";
inline constexpr const char* kReadError = "Ошибка при чтении параметра";
inline constexpr const char* kNoDriverRead = "Невозможно провести операцию чтения: драйвер не загружен.";
inline constexpr const char* kNoDriverWrite = "Невозможно провести операцию записи.";
inline constexpr const char* kReadOnly = "Параметр только для чтения";
inline constexpr const char* kWriteError = "Ошибка при проведении операции записи.";
inline constexpr const char* kWriteDone = "Операция записи проведена.";
inline constexpr const char* kConfirmText = "Вы действительно хотите записать параметр";
inline constexpr const char* kConfirmCaption = "Подтверждение записи";
// Our own: a field description that came back bad while loading a page.
inline constexpr const char* kFieldInfoError = "Ошибка при чтении описания параметра";
// Our own: the table description of a page never loaded came back bad (the
// driver's text for a request that failed).
inline constexpr const char* kTableReadFailed = "Невозможно выполнить запрос состояния ТРК";
// Our own: writes refused before anything is sent.
inline constexpr const char* kNotANumber = "Значение не является числом: запись не выполнена";
inline constexpr const char* kDoesNotFit = "Значение не помещается в поле параметра: запись не выполнена";

inline constexpr const char* kHeaders[5] = {"Код", "Имя параметра", "Ограничения", "Чтение", "Запись"};
inline constexpr const char* kHintRead = "Дважды щелкните на поле для чтения параметра";
inline constexpr const char* kHintWrite = "Нажмите Enter для записи параметра";

inline constexpr const char* kLimitsPair = "от 0 до 999 л/мин.";
inline constexpr const char* kLimitsTemperature = "от -99 до +200 OC (200 - датчик отключен)";
inline constexpr const char* kLimitsCold = "от -20 до 0 OC";
inline constexpr const char* kLimitsList = "<список>";

}  // namespace zarvik::texts
