-- zarvik.lua: Wireshark dissector for dispenser line captures (zarvik-host --capture).
--
-- Capture file: pcap, link type DLT_USER0 (147). Each record is
--   offset 0  line number, 1..32
--   offset 1  direction: 0 sent by the host (request), 1 received by the host
--             (reply), 2 received and thrown away by the port service
--             (a late reply or line noise)
--   offset 2  the bytes as they were on the wire
--
-- Frame (request and reply alike):
--   0 start byte 0x02 | 1 sequence | 2 bus address | 3 LEN | 4.. LEN data bytes
--   | XOR of bytes 1..LEN+3
-- A request's first data byte is the command. A reply carries no command of
-- its own: it answers the last request sent on its line, and is decoded by
-- that request's command.
--
-- Use: wireshark -X lua_script:zarvik.lua capture.pcap
--      tshark -X lua_script:zarvik.lua -2 -V -r capture.pcap
-- (-2: a request shows its reply's frame only in a second pass), or copy
-- this file into the personal Lua plugin folder
-- (~/.local/lib/wireshark/plugins/).
--
-- Filters: zarvik.line, zarvik.dir, zarvik.seq, zarvik.addr, zarvik.len,
-- zarvik.cmd (a reply carries its request's), zarvik.checksum_ok,
-- zarvik.nozzle_byte / zarvik.dispenser / zarvik.nozzle, zarvik.dose_litres,
-- zarvik.dose_money, zarvik.price, zarvik.coefficient, zarvik.status,
-- zarvik.flags.lifted, zarvik.volume, zarvik.money, zarvik.total,
-- zarvik.result / zarvik.accepted, zarvik.param.table / .row / .field /
-- .code / .value, zarvik.table.name / .rows / .fields, zarvik.field.name /
-- .type / .size / .low / .high, zarvik.request_in, zarvik.response_in,
-- zarvik.time (request to reply), zarvik.late_for (a discarded late reply).
-- Expert warnings: zarvik.checksum_bad, zarvik.length_bad (length is not
-- LEN + 5), zarvik.start_bad, zarvik.reply_length, zarvik.seq_differs,
-- zarvik.short; notes: zarvik.refused, zarvik.unanswered, zarvik.no_request,
-- zarvik.discarded.

local zarvik = Proto("zarvik", "Zarvik dispenser line")

-- Pseudo-header
local HEADER_LINE = 0
local HEADER_DIRECTION = 1
local HEADER_SIZE = 2

local DIR_SENT = 0
local DIR_RECEIVED = 1
local DIR_DISCARDED = 2

-- Frame layout
local START_BYTE = 0x02
local OFF_START = 0
local OFF_SEQ = 1
local OFF_ADDR = 2
local OFF_LEN = 3
local OFF_DATA = 4
local OFF_CMD = 4 -- requests: command code
local OFF_NOZZLE = 5 -- dispensing requests: nozzle byte
local OVERHEAD = 5 -- start, sequence, address, LEN, checksum

-- Commands
local CMD_STATUS = 0x9F
local CMD_CLEAR = 0x98
local CMD_START = 0x97
local CMD_STOP = 0x96
local CMD_VOLUME_DOSE = 0x93
local CMD_MONEY_DOSE = 0x94
local CMD_PRICE = 0x9A
local CMD_TOTAL = 0x9B
local CMD_READ_PARAM = 0x1F
local CMD_WRITE_PARAM = 0x1E
local CMD_TABLE_INFO = 0x2D
local CMD_FIELD_INFO = 0x2E

local command_names = {
    [CMD_STATUS] = "Status",
    [CMD_CLEAR] = "Clear nozzle",
    [CMD_START] = "Start",
    [CMD_STOP] = "Stop",
    [CMD_VOLUME_DOSE] = "Dose in litres",
    [CMD_MONEY_DOSE] = "Dose in money",
    [CMD_PRICE] = "Price",
    [CMD_TOTAL] = "Nozzle total",
    [CMD_READ_PARAM] = "Read parameter",
    [CMD_WRITE_PARAM] = "Write parameter",
    [CMD_TABLE_INFO] = "Table description",
    [CMD_FIELD_INFO] = "Field description",
}

-- Request data offsets (whole frame)
local REQ_DOSE = 6 -- 0x93 (x1000) and 0x94 (x100): 4 bytes
local REQ_MONEY_DOSE_PAD = 10 -- 0x94: one 0x00 byte after the dose
local REQ_COEFFICIENT = 6 -- 0x9A: 3 bytes, thousandths
local REQ_PRICE = 9 -- 0x9A: 3 bytes, hundredths
local REQ_TABLE = 5 -- 0x1F 0x1E 0x2D 0x2E
local REQ_ROW = 6 -- 0x1F 0x1E: 2 bytes
local REQ_FIELD = 8 -- 0x1F 0x1E
local REQ_WRITE_VALUE = 9 -- 0x1E: the field's width in bytes
local REQ_INFO_FIELD = 6 -- 0x2E

-- Reply layouts (whole frame)
local REP_RESULT = 5 -- 0x97 0x96 0x1E: 0 = accepted
local REP_STATUS_LEN = 30 -- 0x9F reply: 35 bytes
local REP_VOLUME = 7 -- 0x9F: 4 bytes, thousandths of a litre
local REP_MONEY = 15 -- 0x9F: 4 bytes, hundredths
local REP_STATUS = 31 -- 0x9F: dispenser status code
local REP_FLAGS = 32 -- 0x9F: bit 3 = nozzle out of its holder
local REP_TOTAL = 7 -- 0x9B: 4 bytes, thousandths of a litre
local REP_VALUE = 6 -- 0x1F: LEN - 2 bytes
local REP_NAME = 6 -- 0x2D 0x2E: 40 bytes, code page 1251, ends at the first 0
local NAME_SIZE = 40
local REP_ROWS = 46 -- 0x2D: 2 bytes
local REP_FIELD_COUNT = 48 -- 0x2D
local REP_TYPE = 46 -- 0x2E
local REP_WIDTH = 47 -- 0x2E
local REP_LIMITS = 48 -- 0x2E: low limit, then high limit, width bytes each
local DESCRIPTION_MIN_LEN = 44 -- shorter descriptions are bad replies to the driver
local PARAM_MIN_LEN = 3

-- Whole reply length of the commands whose reply has a fixed layout.
local reply_lengths = {
    [CMD_STATUS] = 35,
    [CMD_CLEAR] = 8,
    [CMD_START] = 8,
    [CMD_STOP] = 8,
    [CMD_VOLUME_DOSE] = 17,
    [CMD_MONEY_DOSE] = 17,
    [CMD_PRICE] = 8,
    [CMD_TOTAL] = 12,
}

local directions = {
    [DIR_SENT] = "host to dispenser (request)",
    [DIR_RECEIVED] = "dispenser to host (reply)",
    [DIR_DISCARDED] = "discarded by the port service (late reply or noise)",
}

local status_names = {
    [0] = "idle",
    [1] = "idle (1)",
    [2] = "idle (2)",
    [3] = "authorised",
    [4] = "nozzle lifted",
    [5] = "authorised (5)",
    [6] = "authorised (6)",
    [7] = "delivering",
    [8] = "delivering, slowing down",
    [9] = "idle (9)",
    [10] = "delivery finished",
    [11] = "finished (11)",
    [12] = "finished (12)",
    [13] = "finished, nozzle hung up",
    [14] = "delivery stopped",
    [15] = "idle (15)",
}

-- The host state code the driver makes of each status (k = the nozzle).
local host_states = {
    [0] = "0xC0 idle", [1] = "0xC0 idle", [2] = "0xC0 idle", [9] = "0xC0 idle", [15] = "0xC0 idle",
    [3] = "0xE8+k authorised", [5] = "0xE8+k authorised", [6] = "0xE8+k authorised",
    [4] = "0xE0+k nozzle lifted",
    [7] = "0xD8+k delivering", [8] = "0xD8+k delivering",
    [10] = "0xD0+k finished", [14] = "0xD0+k finished",
    [11] = "unchanged while idle, else 0xD0+k",
    [12] = "0xC0 while idle or 0xD1..0xD5, else 0xD0+k",
    [13] = "0xC0 idle, and the driver sends Clear nozzle (0x98)",
}

local result_names = { [0] = "accepted" }
for code = 1, 255 do result_names[code] = "refused" end

local f = {
    line = ProtoField.uint8("zarvik.line", "Line", base.DEC),
    dir = ProtoField.uint8("zarvik.dir", "Direction", base.DEC, directions),
    start = ProtoField.uint8("zarvik.start", "Start byte", base.HEX),
    seq = ProtoField.uint8("zarvik.seq", "Sequence number", base.DEC),
    addr = ProtoField.uint8("zarvik.addr", "Bus address", base.DEC),
    len = ProtoField.uint8("zarvik.len", "LEN", base.DEC),
    cmd = ProtoField.uint8("zarvik.cmd", "Command", base.HEX, command_names),
    checksum = ProtoField.uint8("zarvik.checksum", "Checksum", base.HEX),
    checksum_ok = ProtoField.bool("zarvik.checksum_ok", "Checksum right"),
    checksum_expected = ProtoField.uint8("zarvik.checksum_expected", "Checksum expected", base.HEX),
    extra = ProtoField.bytes("zarvik.extra", "Bytes after the frame"),
    unused = ProtoField.bytes("zarvik.unused", "Not used by the driver"),
    data = ProtoField.bytes("zarvik.data", "Data"),
    nozzle_byte = ProtoField.uint8("zarvik.nozzle_byte", "Nozzle byte", base.DEC),
    dispenser = ProtoField.uint8("zarvik.dispenser", "Dispenser", base.DEC),
    nozzle = ProtoField.uint8("zarvik.nozzle", "Nozzle", base.DEC),
    dose_litres = ProtoField.double("zarvik.dose_litres", "Dose (litres)"),
    dose_money = ProtoField.double("zarvik.dose_money", "Dose (money)"),
    pad = ProtoField.uint8("zarvik.pad", "Padding", base.HEX),
    coefficient = ProtoField.double("zarvik.coefficient", "Coefficient"),
    price = ProtoField.double("zarvik.price", "Price"),
    status = ProtoField.uint8("zarvik.status", "Dispenser status", base.DEC, status_names),
    host_state = ProtoField.string("zarvik.host_state", "Host state"),
    flags = ProtoField.uint8("zarvik.flags", "Flags", base.HEX),
    lifted = ProtoField.bool("zarvik.flags.lifted", "Nozzle out of its holder", 8, nil, 0x08),
    volume = ProtoField.double("zarvik.volume", "Volume (litres)"),
    money = ProtoField.double("zarvik.money", "Money"),
    total = ProtoField.double("zarvik.total", "Total (litres)"),
    result = ProtoField.uint8("zarvik.result", "Result", base.DEC, result_names),
    accepted = ProtoField.bool("zarvik.accepted", "Accepted"),
    table = ProtoField.uint8("zarvik.param.table", "Table", base.DEC),
    row = ProtoField.uint16("zarvik.param.row", "Row", base.DEC),
    field = ProtoField.uint8("zarvik.param.field", "Field", base.DEC),
    code = ProtoField.uint32("zarvik.param.code", "Parameter code", base.DEC),
    value = ProtoField.uint32("zarvik.param.value", "Value", base.DEC),
    table_name = ProtoField.string("zarvik.table.name", "Table name"),
    table_rows = ProtoField.uint16("zarvik.table.rows", "Rows", base.DEC),
    table_fields = ProtoField.uint8("zarvik.table.fields", "Fields", base.DEC),
    field_name = ProtoField.string("zarvik.field.name", "Field name"),
    field_type = ProtoField.uint8("zarvik.field.type", "Type", base.DEC),
    field_size = ProtoField.uint8("zarvik.field.size", "Value width (bytes)", base.DEC),
    field_low = ProtoField.uint32("zarvik.field.low", "Lowest value", base.DEC),
    field_high = ProtoField.uint32("zarvik.field.high", "Highest value", base.DEC),
    request_in = ProtoField.framenum("zarvik.request_in", "Request in", base.NONE, frametype.REQUEST),
    response_in = ProtoField.framenum("zarvik.response_in", "Reply in", base.NONE, frametype.RESPONSE),
    time = ProtoField.relative_time("zarvik.time", "Time since request"),
    late_for = ProtoField.framenum("zarvik.late_for", "Late reply to the request in", base.NONE, frametype.RESPONSE),
}
local field_list = {}
for _, field in pairs(f) do field_list[#field_list + 1] = field end
zarvik.fields = field_list

local e = {
    checksum = ProtoExpert.new("zarvik.checksum_bad", "Wrong checksum", expert.group.CHECKSUM, expert.severity.WARN),
    length = ProtoExpert.new("zarvik.length_bad", "Length does not match LEN", expert.group.MALFORMED,
        expert.severity.WARN),
    start = ProtoExpert.new("zarvik.start_bad", "Start byte is not 0x02", expert.group.PROTOCOL, expert.severity.WARN),
    short = ProtoExpert.new("zarvik.short", "Too short for its layout", expert.group.MALFORMED, expert.severity.WARN),
    refused = ProtoExpert.new("zarvik.refused", "Refused by the dispenser", expert.group.RESPONSE_CODE,
        expert.severity.NOTE),
    unanswered = ProtoExpert.new("zarvik.unanswered", "No reply on this line before the next request",
        expert.group.SEQUENCE, expert.severity.NOTE),
    orphan = ProtoExpert.new("zarvik.no_request", "Reply with no request before it", expert.group.SEQUENCE,
        expert.severity.NOTE),
    seq = ProtoExpert.new("zarvik.seq_differs", "Sequence number is not the request's", expert.group.SEQUENCE,
        expert.severity.WARN),
    reply_length = ProtoExpert.new("zarvik.reply_length", "Not the length of a reply to this command",
        expert.group.PROTOCOL, expert.severity.WARN),
    discarded = ProtoExpert.new("zarvik.discarded", "Thrown away by the port service", expert.group.SEQUENCE,
        expert.severity.NOTE),
}
zarvik.experts = {
    e.checksum, e.length, e.start, e.short, e.refused, e.unanswered, e.orphan, e.seq, e.reply_length, e.discarded,
}

-- First-pass bookkeeping, by line and by frame number.
local last_request  -- line -> request
local requests_by_seq -- line -> seq -> request
local request_of -- reply frame -> request
local request_at -- request frame -> request
local discarded_for -- discarded frame -> request

local function forget()
    last_request, requests_by_seq, request_of, request_at, discarded_for = {}, {}, {}, {}, {}
end
forget()
zarvik.init = forget -- before every (re)dissection of a file

local function xor8(a, b)
    local r, bit = 0, 1
    for _ = 1, 8 do
        if (a % 2) ~= (b % 2) then r = r + bit end
        a, b, bit = math.floor(a / 2), math.floor(b / 2), bit * 2
    end
    return r
end

local function le(tvb, offset, width)
    local v = 0
    for i = width - 1, 0, -1 do v = v * 256 + tvb(offset + i, 1):uint() end
    return v
end

-- Data bytes end before the checksum (or at the end of a frame cut short):
-- set for each frame before its data is decoded.
local data_limit = 0

-- `width` data bytes from `offset` as a range, or nil when they are not all there.
local function range(frame, offset, width)
    if offset + width > data_limit then return nil end
    return frame(offset, width)
end

local function short(tree, frame, what, need)
    tree:add_proto_expert_info(e.short, string.format("%s: %d bytes, its layout needs %d", what, frame:len(), need))
end

-- Dispensers and nozzles a nozzle byte stands for on bus address `address`:
-- the odd dispenser of the pair uses bytes 0..5, the even one 5..10.
local function nozzle_targets(address, byte)
    local odd, even = 2 * address - 1, 2 * address
    local t = {}
    if byte <= 5 then t[#t + 1] = { odd, byte + 1 } end
    if byte >= 5 and byte <= 10 then t[#t + 1] = { even, byte - 4 } end
    return t
end

local function add_nozzle(tree, frame, address)
    local r = range(frame, OFF_NOZZLE, 1)
    if not r then return "" end
    local byte = r:uint()
    local item = tree:add(f.nozzle_byte, r)
    local texts = {}
    for _, target in ipairs(nozzle_targets(address, byte)) do
        item:add(f.dispenser, r, target[1]):set_generated()
        item:add(f.nozzle, r, target[2]):set_generated()
        texts[#texts + 1] = string.format("dispenser %d nozzle %d", target[1], target[2])
    end
    local text = #texts > 0 and table.concat(texts, " or ") or "no nozzle"
    item:append_text(" (" .. text .. ")")
    return string.format(", nozzle byte %d (%s)", byte, text)
end

local function add_scaled(tree, field, label, frame, offset, width, scale, format)
    local r = range(frame, offset, width)
    if not r then return nil end
    local v = le(frame, offset, width) / scale
    tree:add(field, r, v):set_text(string.format("%s: " .. format, label, v))
    return v
end

-- Code page 1251, bytes 0x80..0xFF, as code points. Converted here rather than
-- with ENC_WINDOWS_1251: some Wireshark versions cut a converted string to
-- its byte count, and Cyrillic takes two bytes a letter in UTF-8.
local cp1251 = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C,
    0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A,
    0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9,
    0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
}
for letter = 0, 63 do cp1251[65 + letter] = 0x0410 + letter end -- 0xC0..0xFF: А..я

local function utf8_char(cp)
    if cp < 0x80 then return string.char(cp) end
    if cp < 0x800 then return string.char(0xC0 + math.floor(cp / 64), 0x80 + cp % 64) end
    return string.char(0xE0 + math.floor(cp / 4096), 0x80 + math.floor(cp / 64) % 64, 0x80 + cp % 64)
end

-- Text of up to NAME_SIZE bytes from `offset`, ending before the first 0 byte, in code page 1251.
local function add_name(tree, field, frame, offset)
    local r = range(frame, offset, NAME_SIZE)
    if not r then return nil end
    local chars = {}
    for i = 0, NAME_SIZE - 1 do
        local b = frame(offset + i, 1):uint()
        if b == 0 then break end
        chars[#chars + 1] = utf8_char(b < 0x80 and b or cp1251[b - 0x7F])
    end
    local name = table.concat(chars)
    tree:add(field, r, name)
    return name
end

local function add_parameter_address(tree, frame)
    local t, rw, fl = range(frame, REQ_TABLE, 1), range(frame, REQ_ROW, 2), range(frame, REQ_FIELD, 1)
    if not (t and rw and fl) then
        short(tree, frame, "parameter request", REQ_FIELD + 2)
        return ""
    end
    tree:add(f.table, t)
    tree:add_le(f.row, rw)
    tree:add(f.field, fl)
    local code = 1000000 + t:uint() * 10000 + rw:le_uint() * 100 + fl:uint()
    tree:add(f.code, frame(REQ_TABLE, 4), code):set_generated()
    return string.format(" %d (table %d, row %d, field %d)", code, t:uint(), rw:le_uint(), fl:uint())
end

local function add_result(tree, frame, cmd)
    local r = range(frame, REP_RESULT, 1)
    if not r then
        short(tree, frame, "reply", REP_RESULT + 2)
        return ""
    end
    local accepted = r:uint() == 0
    tree:add(f.result, r)
    tree:add(f.accepted, r, accepted):set_generated()
    if not accepted then
        tree:add_proto_expert_info(e.refused, string.format("%s refused (result %d)", command_names[cmd], r:uint()))
        return string.format(": refused (%d)", r:uint())
    end
    return ": accepted"
end

-- Request data by command; returns text for the Info column and what a reply needs to know.
local function dissect_request(tree, frame, address)
    local c = range(frame, OFF_CMD, 1)
    if not c then return "", nil end
    local cmd = c:uint()
    tree:add(f.cmd, c)
    local info = command_names[cmd] or string.format("Command 0x%02X", cmd)
    if cmd == CMD_STATUS or cmd == CMD_CLEAR or cmd == CMD_START or cmd == CMD_STOP or cmd == CMD_TOTAL then
        info = info .. add_nozzle(tree, frame, address)
    elseif cmd == CMD_VOLUME_DOSE then
        info = info .. add_nozzle(tree, frame, address)
        local v = add_scaled(tree, f.dose_litres, "Dose", frame, REQ_DOSE, 4, 1000, "%.3f L")
        if v then info = info .. string.format(", %.3f L", v) end
    elseif cmd == CMD_MONEY_DOSE then
        info = info .. add_nozzle(tree, frame, address)
        local v = add_scaled(tree, f.dose_money, "Dose", frame, REQ_DOSE, 4, 100, "%.2f")
        if v then info = info .. string.format(", %.2f", v) end
        local pad = range(frame, REQ_MONEY_DOSE_PAD, 1)
        if pad then tree:add(f.pad, pad) end
    elseif cmd == CMD_PRICE then
        info = info .. add_nozzle(tree, frame, address)
        local k = add_scaled(tree, f.coefficient, "Coefficient", frame, REQ_COEFFICIENT, 3, 1000, "%.3f")
        local p = add_scaled(tree, f.price, "Price", frame, REQ_PRICE, 3, 100, "%.2f")
        if p then info = info .. string.format(", price %.2f, coefficient %.3f", p, k) end
    elseif cmd == CMD_READ_PARAM then
        info = info .. add_parameter_address(tree, frame)
    elseif cmd == CMD_WRITE_PARAM then
        info = info .. add_parameter_address(tree, frame)
        local width = data_limit - REQ_WRITE_VALUE
        if width >= 1 and width <= 4 then
            local v = le(frame, REQ_WRITE_VALUE, width)
            tree:add(f.value, frame(REQ_WRITE_VALUE, width), v)
            info = info .. string.format(" = %d", v)
        elseif width > 4 then
            tree:add(f.data, frame(REQ_WRITE_VALUE, width)):append_text(" (value wider than 4 bytes)")
        end
    elseif cmd == CMD_TABLE_INFO then
        local t = range(frame, REQ_TABLE, 1)
        if t then
            tree:add(f.table, t)
            info = info .. string.format(", table %d", t:uint())
        end
    elseif cmd == CMD_FIELD_INFO then
        local t, fl = range(frame, REQ_TABLE, 1), range(frame, REQ_INFO_FIELD, 1)
        if t and fl then
            tree:add(f.table, t)
            tree:add(f.field, fl)
            info = info .. string.format(", table %d field %d", t:uint(), fl:uint())
        end
    end
    return info, cmd
end

local function add_unused(tree, frame, first, width)
    local r = range(frame, first, width)
    if not r then return end
    tree:add(f.unused, r):prepend_text(width == 1 and string.format("Byte %d: ", first)
        or string.format("Bytes %d..%d: ", first, first + width - 1))
end

local function dissect_status_reply(tree, frame)
    if frame:len() < REP_STATUS_LEN + OVERHEAD then short(tree, frame, "status reply", REP_STATUS_LEN + OVERHEAD) end
    add_unused(tree, frame, 4, 3)
    local v = add_scaled(tree, f.volume, "Volume", frame, REP_VOLUME, 4, 1000, "%.3f L")
    add_unused(tree, frame, 11, 4)
    local m = add_scaled(tree, f.money, "Money", frame, REP_MONEY, 4, 100, "%.2f")
    add_unused(tree, frame, 19, 12)
    local parts = {}
    local s = range(frame, REP_STATUS, 1)
    if s then
        local code = s:uint()
        tree:add(f.status, s)
        tree:add(f.host_state, s, host_states[code] or "unchanged (no meaning to the driver)"):set_generated()
        parts[#parts + 1] = string.format("status %d (%s)", code, status_names[code] or "?")
    end
    local fl = range(frame, REP_FLAGS, 1)
    if fl then
        tree:add(f.flags, fl):add(f.lifted, fl)
        if math.floor(fl:uint() / 8) % 2 == 1 then parts[#parts + 1] = "nozzle out" end
    end
    add_unused(tree, frame, 33, 1)
    if v then parts[#parts + 1] = string.format("%.3f L", v) end
    if m then parts[#parts + 1] = string.format("%.2f", m) end
    return ": " .. table.concat(parts, ", ")
end

local function dissect_reply(tree, frame, cmd)
    local data_end = data_limit
    if cmd == CMD_STATUS then
        return dissect_status_reply(tree, frame)
    elseif cmd == CMD_START or cmd == CMD_STOP or cmd == CMD_WRITE_PARAM then
        return add_result(tree, frame, cmd)
    elseif cmd == CMD_TOTAL then
        local v = add_scaled(tree, f.total, "Total", frame, REP_TOTAL, 4, 1000, "%.3f L")
        if not v then
            short(tree, frame, "total reply", REP_TOTAL + 5)
            return ""
        end
        return string.format(": %.3f L", v)
    elseif cmd == CMD_READ_PARAM then
        local len = frame(OFF_LEN, 1):uint()
        if len < PARAM_MIN_LEN then
            short(tree, frame, "parameter reply (LEN below 3: the driver takes it as bad)", PARAM_MIN_LEN + OVERHEAD)
            return ": no value"
        end
        local width = math.min(len - 2, data_end - REP_VALUE)
        if width > 4 then
            tree:add(f.data, frame(REP_VALUE, width)):append_text(" (value wider than 4 bytes)")
            return ": value wider than 4 bytes"
        elseif width >= 1 then
            local v = le(frame, REP_VALUE, width)
            tree:add(f.value, frame(REP_VALUE, width), v)
            return string.format(": value %d", v)
        end
        return ""
    elseif cmd == CMD_TABLE_INFO or cmd == CMD_FIELD_INFO then
        if frame(OFF_LEN, 1):uint() < DESCRIPTION_MIN_LEN then
            short(tree, frame, "description (LEN below 44: the driver takes it as bad)", DESCRIPTION_MIN_LEN + OVERHEAD)
        end
        local name_field = cmd == CMD_TABLE_INFO and f.table_name or f.field_name
        local name = add_name(tree, name_field, frame, REP_NAME)
        if not name then return "" end
        if cmd == CMD_TABLE_INFO then
            local rows, count = range(frame, REP_ROWS, 2), range(frame, REP_FIELD_COUNT, 1)
            if rows then tree:add_le(f.table_rows, rows) end
            if count then tree:add(f.table_fields, count) end
            if rows and count then
                return string.format(": \"%s\", %d rows, %d fields", name, rows:le_uint(), count:uint())
            end
        else
            local t, w = range(frame, REP_TYPE, 1), range(frame, REP_WIDTH, 1)
            if t then tree:add(f.field_type, t) end
            if w then
                tree:add(f.field_size, w)
                local width = w:uint()
                if width >= 1 and width <= 4 then
                    local low, high = range(frame, REP_LIMITS, width), range(frame, REP_LIMITS + width, width)
                    if low then tree:add(f.field_low, low, le(frame, REP_LIMITS, width)) end
                    if high then tree:add(f.field_high, high, le(frame, REP_LIMITS + width, width)) end
                    if low and high then
                        return string.format(": \"%s\", type %d, %d byte(s), %d..%d", name, t:uint(), width,
                            low:le_uint(), high:le_uint())
                    end
                    short(tree, frame, "field description", REP_LIMITS + 2 * width + 1)
                end
            end
        end
        return string.format(": \"%s\"", name)
    end
    if data_end > OFF_DATA then tree:add(f.data, frame(OFF_DATA, data_end - OFF_DATA)) end
    return ""
end

local function nstime_between(later, earlier)
    local delta = later - earlier
    local secs = math.floor(delta)
    local micros = math.floor((delta - secs) * 1e6 + 0.5)
    return NSTime.new(secs, micros * 1000)
end

function zarvik.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "ZARVIK"
    local tree = root:add(zarvik, tvb())
    if tvb:len() < HEADER_SIZE then
        tree:add_proto_expert_info(e.short, "no line and direction")
        return
    end
    local line = tvb(HEADER_LINE, 1):uint()
    local dir = tvb(HEADER_DIRECTION, 1):uint()
    tree:add(f.line, tvb(HEADER_LINE, 1))
    tree:add(f.dir, tvb(HEADER_DIRECTION, 1))
    if tvb:len() == HEADER_SIZE then
        tree:add_proto_expert_info(e.short, "no frame bytes")
        return
    end
    local frame = tvb(HEADER_SIZE):tvb("Frame")
    local n = frame:len()
    tree:append_text(string.format(", line %d, %s", line, directions[dir] or "?"))

    -- Header
    local notes = {}
    local start_ok = frame(OFF_START, 1):uint() == START_BYTE
    local start_item = tree:add(f.start, frame(OFF_START, 1))
    if not start_ok then
        start_item:add_proto_expert_info(e.start, string.format("Start byte 0x%02X, not 0x02",
            frame(OFF_START, 1):uint()))
        notes[#notes + 1] = "bad start byte"
    end
    local seq = n > OFF_SEQ and frame(OFF_SEQ, 1):uint() or nil
    local address = n > OFF_ADDR and frame(OFF_ADDR, 1):uint() or nil
    if seq then tree:add(f.seq, frame(OFF_SEQ, 1)) end
    if address then tree:add(f.addr, frame(OFF_ADDR, 1)) end
    if n <= OFF_LEN then
        tree:add_proto_expert_info(e.short, string.format("%d byte(s): too short for a frame", n))
        pinfo.cols.info = string.format("Line %d: %d byte(s), no frame", line, n)
        return
    end
    local len = frame(OFF_LEN, 1):uint()
    local len_item = tree:add(f.len, frame(OFF_LEN, 1))
    local want = len + OVERHEAD
    local body = frame
    local whole_and_right = false
    data_limit = n
    if n ~= want then
        len_item:add_proto_expert_info(e.length,
            string.format("%d bytes, LEN %d says %d", n, len, want))
        notes[#notes + 1] = string.format("length %d, LEN says %d", n, want)
    end
    -- The checksum and what follows the frame go into the tree after the data, as on the wire.
    local add_trailer = function() end
    if n >= want then
        local cs = frame(want - 1, 1)
        local x = 0
        for i = OFF_SEQ, want - 2 do x = xor8(x, frame(i, 1):uint()) end
        local ok = cs:uint() == x
        if not ok then notes[#notes + 1] = "wrong checksum" end
        add_trailer = function()
            local item = tree:add(f.checksum, cs)
            tree:add(f.checksum_ok, cs, ok):set_generated()
            if not ok then
                tree:add(f.checksum_expected, cs, x):set_generated()
                item:add_proto_expert_info(e.checksum, string.format(
                    "Checksum 0x%02X, XOR of bytes 1..%d is 0x%02X", cs:uint(), want - 2, x))
            end
            if n > want then tree:add(f.extra, frame(want, n - want)) end
        end
        body = frame(0, want):tvb()
        data_limit = want - 1
        whole_and_right = ok and n == want
    end

    -- Command and pairing
    local info
    local src, dst = "host", string.format("address %d", address)
    if dir == DIR_SENT then
        local text, cmd = dissect_request(tree, body, address)
        info = string.format("Request seq %d addr %d: %s", seq, address, text)
        if not pinfo.visited then
            local previous = last_request[line]
            if previous and not previous.answered then previous.unanswered = true end
            local request = { frame = pinfo.number, time = pinfo.abs_ts, cmd = cmd, seq = seq, address = address }
            last_request[line] = request
            requests_by_seq[line] = requests_by_seq[line] or {}
            requests_by_seq[line][seq] = request
            request_at[pinfo.number] = request
        end
        local request = request_at[pinfo.number]
        if request and request.reply then
            tree:add(f.response_in, request.reply):set_generated()
        elseif request and request.unanswered then
            tree:add_proto_expert_info(e.unanswered)
            notes[#notes + 1] = "no reply"
        end
    else
        src, dst = dst, src
        if not pinfo.visited then
            local request = last_request[line]
            if dir == DIR_RECEIVED then
                if request and not request.answered then
                    request.answered = true
                    request.reply = pinfo.number
                    request_of[pinfo.number] = request
                end
            elseif whole_and_right and requests_by_seq[line] then
                discarded_for[pinfo.number] = requests_by_seq[line][seq]
            end
        end
        local request
        if dir == DIR_RECEIVED then
            request = request_of[pinfo.number]
        else
            request = discarded_for[pinfo.number]
            tree:add_proto_expert_info(e.discarded)
            notes[#notes + 1] = "discarded"
        end
        local text = ""
        if request then
            local link = dir == DIR_RECEIVED and f.request_in or f.late_for
            tree:add(link, request.frame):set_generated()
            tree:add(f.time, nstime_between(pinfo.abs_ts, request.time)):set_generated()
            if request.cmd then
                tree:add(f.cmd, request.cmd):set_generated()
                text = command_names[request.cmd] or string.format("Command 0x%02X", request.cmd)
                local expected = reply_lengths[request.cmd]
                if expected and n ~= expected then
                    tree:add_proto_expert_info(e.reply_length, string.format("%d bytes, a %s reply has %d", n,
                        text, expected))
                    notes[#notes + 1] = string.format("not a %s reply", text)
                end
                -- A frame that does not start right is line noise: its bytes mean nothing.
                text = text .. (start_ok and dissect_reply(tree, body, request.cmd) or "")
            end
            if seq ~= request.seq and dir == DIR_RECEIVED then
                tree:add_proto_expert_info(e.seq, string.format("Sequence number %d, the request's %d", seq,
                    request.seq))
                notes[#notes + 1] = string.format("seq of another request")
            end
        else
            if dir == DIR_RECEIVED then tree:add_proto_expert_info(e.orphan) end
            text = "no request"
            if data_limit > OFF_DATA then tree:add(f.data, body(OFF_DATA, data_limit - OFF_DATA)) end
        end
        info = string.format("Reply seq %d addr %d: %s", seq, address, text)
    end
    add_trailer()
    pinfo.cols.src = src
    pinfo.cols.dst = dst
    if #notes > 0 then info = info .. " [" .. table.concat(notes, ", ") .. "]" end
    pinfo.cols.info = string.format("Line %d %s", line, info)
end

DissectorTable.get("wtap_encap"):add(wtap_encaps.USER0, zarvik)
