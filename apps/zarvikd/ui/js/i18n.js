// The page's texts in Russian (the station's language, the default) and
// English; the choice is remembered in localStorage. t(key, values) fills
// "{name}" placeholders; elements with data-i18n (text) or data-i18n-title
// (tooltip) are refreshed by applyTexts().
const texts = {
  ru: {
    title: 'Заправочная площадка',
    login: 'Вход', token: 'Токен доступа', enter: 'Войти', logout: 'Выйти',
    badToken: 'Неверный токен: служба его не знает',
    noService: 'Служба не отвечает: {cause}',
    connLost: 'Нет связи со службой. Повторное подключение через {s} с…',
    connRetrying: 'Нет связи со службой. Подключение…',
    tabPumps: 'ТРК', tabSales: 'Продажи', tabReport: 'Отчёт за смену', tabLines: 'Линии связи',
    pump: 'ТРК {d}', lineOf: 'линия {l}', nozzle: 'Пистолет {n}', noNozzle: 'пистолет не снят',
    litres: 'л', price: 'Цена', pending: 'новая цена {p} (пистолет {n}) — ожидает',
    dead: 'Нет связи: {cause}', stale: 'данные {age} назад', never: 'ещё не опрошена',
    unknownState: 'состояние неизвестно',
    authorise: 'Отпуск', stop: 'Стоп', setPrice: 'Цена',
    emergency: 'АВАРИЙНЫЙ СТОП', emergencyAsk: 'Остановить все ТРК станции?',
    emergencyYes: 'Остановить все', cancel: 'Отмена',
    emergencyDone: 'Аварийный стоп: {n} пистолетов', emergencyNone: 'Аварийный стоп: ни один пистолет не отпускал',
    stopDone: 'ТРК {d}: остановлено', result_stopped: 'остановлен', result_refused: 'отказ', result_failed: 'ошибка',
    authoriseTitle: 'Отпуск на ТРК {d}', preset: 'Доза', byLitres: 'литры', byMoney: 'сумма',
    amount: 'Количество', send: 'Разрешить', authorised: 'ТРК {d}: отпуск разрешён',
    priceTitle: 'Цена на ТРК {d}', apply: 'Установить', priceApplied: 'Цена установлена',
    pricePending: 'Цена будет установлена, когда пистолет освободится',
    error: 'Ошибка: {message}', close: 'Закрыть', enterValue: 'укажите: {f}',
    salesTitle: 'Продажи, ожидающие подтверждения', acknowledge: 'Подтвердить', noSales: 'Нет неподтверждённых продаж',
    journalMissing: 'журнал продаж не подключён',
    colPump: 'ТРК', colNozzle: 'Пистолет', colGrade: 'Топливо', colLitres: 'Литры', colMoney: 'Сумма',
    colPrice: 'Цена', colState: 'Состояние', colEnded: 'Окончание', colSales: 'Продаж',
    colMeterStart: 'Счётчик в начале', colMeterEnd: 'Счётчик в конце', colMeterDiff: 'По счётчику',
    colSalesLitres: 'По продажам', colDifference: 'Расхождение',
    reportFrom: 'С', reportTo: 'По', reportMake: 'Сформировать', reportCsv: 'Скачать CSV',
    reportEmpty: 'За период продаж нет', reportMismatch: 'расходится', reportNoMeter: 'нет счётчика',
    sale_authorising: 'разрешается', sale_authorised: 'разрешён', sale_delivering: 'идёт отпуск',
    sale_finished: 'завершён', sale_stopped: 'остановлен', sale_failed: 'сбой', sale_reconciled: 'сверен',
    colLine: 'Линия', colDevice: 'Устройство', colHealth: 'Состояние', colGood: 'Успешно', colBad: 'Ошибки',
    colTimeouts: 'Таймауты', colEcho: 'Эхо (посл./адрес)', colLastFault: 'Последний сбой',
    health_good: 'исправна', health_failing: 'сбои', health_dead: 'нет связи',
    echo_unknown: '?', echo_yes: 'да', echo_no: 'нет',
    seconds: '{n} с', minutes: '{n} мин', hours: '{n} ч',
  },
  en: {
    title: 'Forecourt',
    login: 'Sign in', token: 'Access token', enter: 'Sign in', logout: 'Sign out',
    badToken: 'Wrong token: the service does not know it',
    noService: 'The service does not answer: {cause}',
    connLost: 'No connection to the service. Reconnecting in {s} s…',
    connRetrying: 'No connection to the service. Connecting…',
    tabPumps: 'Pumps', tabSales: 'Sales', tabReport: 'Shift report', tabLines: 'Lines',
    pump: 'Pump {d}', lineOf: 'line {l}', nozzle: 'Nozzle {n}', noNozzle: 'no nozzle lifted',
    litres: 'L', price: 'Price', pending: 'new price {p} (nozzle {n}) — pending',
    dead: 'No connection: {cause}', stale: 'values {age} old', never: 'not polled yet',
    unknownState: 'state unknown',
    authorise: 'Sale', stop: 'Stop', setPrice: 'Price',
    emergency: 'EMERGENCY STOP', emergencyAsk: 'Stop every pump of the station?',
    emergencyYes: 'Stop all', cancel: 'Cancel',
    emergencyDone: 'Emergency stop: {n} nozzles', emergencyNone: 'Emergency stop: no nozzle was delivering',
    stopDone: 'Pump {d}: stopped', result_stopped: 'stopped', result_refused: 'refused', result_failed: 'failed',
    authoriseTitle: 'Sale on pump {d}', preset: 'Preset', byLitres: 'litres', byMoney: 'money',
    amount: 'Amount', send: 'Authorise', authorised: 'Pump {d}: sale authorised',
    priceTitle: 'Price on pump {d}', apply: 'Set', priceApplied: 'Price set',
    pricePending: 'The price will be set when the nozzle is free',
    error: 'Error: {message}', close: 'Close', enterValue: 'enter: {f}',
    salesTitle: 'Sales waiting for acknowledgement', acknowledge: 'Acknowledge', noSales: 'No sales to acknowledge',
    journalMissing: 'the sales journal is not connected',
    colPump: 'Pump', colNozzle: 'Nozzle', colGrade: 'Grade', colLitres: 'Litres', colMoney: 'Money',
    colPrice: 'Price', colState: 'State', colEnded: 'Ended', colSales: 'Sales',
    colMeterStart: 'Meter at start', colMeterEnd: 'Meter at end', colMeterDiff: 'By meter',
    colSalesLitres: 'By sales', colDifference: 'Difference',
    reportFrom: 'From', reportTo: 'To', reportMake: 'Make report', reportCsv: 'Download CSV',
    reportEmpty: 'No sales in the period', reportMismatch: 'differs', reportNoMeter: 'no meter reading',
    sale_authorising: 'authorising', sale_authorised: 'authorised', sale_delivering: 'delivering',
    sale_finished: 'finished', sale_stopped: 'stopped', sale_failed: 'failed', sale_reconciled: 'reconciled',
    colLine: 'Line', colDevice: 'Device', colHealth: 'Health', colGood: 'Good', colBad: 'Bad',
    colTimeouts: 'Timeouts', colEcho: 'Echo (seq/addr)', colLastFault: 'Last fault',
    health_good: 'good', health_failing: 'failing', health_dead: 'dead',
    echo_unknown: '?', echo_yes: 'yes', echo_no: 'no',
    seconds: '{n} s', minutes: '{n} min', hours: '{n} h',
  },
};

const kStorageKey = 'zarvik.lang';
let language = texts[localStorage.getItem(kStorageKey)] ? localStorage.getItem(kStorageKey) : 'ru';
const listeners = [];

export function lang() { return language; }

export function setLang(next) {
  if (!texts[next]) return;
  language = next;
  localStorage.setItem(kStorageKey, next);
  applyTexts();
  for (const listener of listeners) listener();
}

export function onLangChange(listener) { listeners.push(listener); }

export function t(key, values = {}) {
  const text = texts[language][key] ?? texts.ru[key] ?? key;
  return text.replace(/\{(\w+)\}/g, (_, name) => String(values[name] ?? ''));
}

export function applyTexts(root = document) {
  document.documentElement.lang = language;
  for (const el of root.querySelectorAll('[data-i18n]')) el.textContent = t(el.dataset.i18n);
  for (const el of root.querySelectorAll('[data-i18n-title]')) el.title = t(el.dataset.i18nTitle);
  document.title = t('title');
}

// Numbers as the language writes them (a decimal comma in Russian).
export function number(value, digits) {
  if (value === null || value === undefined) return '—';
  return new Intl.NumberFormat(language === 'ru' ? 'ru-RU' : 'en-GB', {
    minimumFractionDigits: digits, maximumFractionDigits: digits, useGrouping: false,
  }).format(value);
}

export function age(ms) {
  const s = Math.round(ms / 1000);
  if (s < 120) return t('seconds', { n: s });
  if (s < 7200) return t('minutes', { n: Math.round(s / 60) });
  return t('hours', { n: Math.round(s / 3600) });
}

export function dateTime(iso) {
  if (!iso) return '—';
  return new Date(iso).toLocaleString(language === 'ru' ? 'ru-RU' : 'en-GB');
}
