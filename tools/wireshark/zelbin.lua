-- SPDX-License-Identifier: MIT
-- Wireshark dissector for the receiver service's protocol as Zelbin speaks it: the look-up on
-- UDP 35000 (request and reply), the 16-byte handshake the service sends first on a connection,
-- and the framed TCP stream (a 4-byte length, then the message: identifier, kind, correlation
-- value of requests and responses, and its body).
--
-- Load it with:  wireshark -X lua_script:tools/wireshark/zelbin.lua   (or copy it into the
-- personal Lua plugins folder that Help > About Wireshark > Folders names). The service's TCP
-- port is learnt from a look-up reply that answers a look-up request of the capture, and only
-- connections on it that begin with the handshake are taken as the service's (anything else on
-- that port goes to the dissector the port had). Without a look-up, a heuristic recognises the
-- handshake and the frames; the "TCP port" preference names the port outright.

local IDENTIFIER = "3C915E07D24A6B189F20C473E85D01A6"
local LOOKUP_PORT = 35000
local MAX_FRAME = 16 * 1024 * 1024

local message_names = {
    [1] = "Registration",
    [6] = "ClientClosingRequest",
    [7] = "ClientClosingResponse",
    [8] = "ReceiverStatusEvent",
    [9] = "ReceiverCommand",
    [10] = "GetLogFileRequest",
    [11] = "GetLogFileResponse",
    [12] = "SetLogMaskMessage",
    [13] = "LogUpdatedEvent",
    [14] = "GetLogMaskRequest",
    [15] = "GetLogMaskResponse",
    [18] = "ClearLogMessage",
}
local kind_names = { [1] = "one-way", [2] = "request", [3] = "response" }
local lookup_codes = { [100] = "look-up request", [101] = "look-up reply" }
local state_names = { [1] = "present", [2] = "gone" }
local arg_types = {
    [1] = "uint8", [2] = "bool", [3] = "char", [4] = "uint16", [5] = "uint32", [6] = "float",
    [7] = "double", [8] = "string", [9] = "blob", [10] = "wide string", [11] = "wide char",
}
local categories = { { 0x02, "verbose" }, { 0x04, "processed" }, { 0x08, "raw" }, { 0x10, "debug" } }

local zelbin = Proto("zelbin", "Zelbin receiver service protocol")
local lookup = Proto("zelbin_lookup", "Zelbin receiver service look-up")

local f = {
    handshake = ProtoField.bytes("zelbin.handshake", "Handshake (service identifier)"),
    length = ProtoField.uint32("zelbin.length", "Length", base.DEC),
    id = ProtoField.uint32("zelbin.id", "Message", base.DEC, message_names),
    name = ProtoField.string("zelbin.name", "Message name"),
    kind = ProtoField.uint8("zelbin.kind", "Kind", base.DEC, kind_names),
    correlation = ProtoField.uint32("zelbin.correlation", "Correlation value", base.HEX),
    registration = ProtoField.int32("zelbin.registration", "Registration identifier"),
    receivers = ProtoField.int32("zelbin.receivers", "Receivers"),
    receiver_id = ProtoField.uint32("zelbin.receiver.id", "Receiver"),
    receiver_state = ProtoField.uint32("zelbin.receiver.state", "State", base.DEC, state_names),
    receiver_name = ProtoField.string("zelbin.receiver.name", "Name", base.UNICODE),
    logfile = ProtoField.string("zelbin.logfile", "Log file", base.UNICODE),
    logmask = ProtoField.uint32("zelbin.logmask", "Log mask", base.HEX),
    logmask_names = ProtoField.string("zelbin.logmask.names", "Categories"),
    arguments = ProtoField.uint32("zelbin.arguments", "Arguments"),
    arg_type = ProtoField.uint8("zelbin.arg.type", "Type", base.DEC, arg_types),
    arg_uint = ProtoField.uint32("zelbin.arg.uint", "Value"),
    arg_double = ProtoField.double("zelbin.arg.double", "Value"),
    arg_text = ProtoField.string("zelbin.arg.text", "Text", base.UNICODE),
    arg_bytes = ProtoField.bytes("zelbin.arg.bytes", "Bytes"),
    command_receiver = ProtoField.uint32("zelbin.command.receiver", "To receiver (0: all)"),
    command_text = ProtoField.string("zelbin.command.text", "Command text", base.UNICODE),
}
zelbin.fields = f

local lf = {
    code = ProtoField.uint32("zelbin.lookup.code", "Code", base.DEC, lookup_codes),
    identifier = ProtoField.bytes("zelbin.lookup.identifier", "Service identifier"),
    port = ProtoField.uint16("zelbin.lookup.port", "Service port"),
}
lookup.fields = lf

local malformed = ProtoExpert.new("zelbin.malformed", "Malformed message", expert.group.MALFORMED,
    expert.severity.ERROR)
local mismatch = ProtoExpert.new("zelbin.mismatch", "An argument of another type than its message's",
    expert.group.PROTOCOL, expert.severity.WARN)
local unasked = ProtoExpert.new("zelbin.lookup.unasked", "A reply that answers no look-up request",
    expert.group.SEQUENCE, expert.severity.NOTE)
zelbin.experts = { malformed, mismatch }
lookup.experts = { unasked }

zelbin.prefs.tcp_port = Pref.uint("TCP port", 0, "The service's TCP port (0: learnt from the look-up)")

local tcp_table = DissectorTable.get("tcp.port")
local tcp_stream = Field.new("tcp.stream")
-- Per capture: the ports taken over, with the dissector each had before (false: none); whether
-- each TCP stream is the service's; when the last look-up request came.
local taken_ports = {}
local streams = {}
local last_request_time = nil
local pref_port = 0
-- A reply answers a request of at most this many seconds before it (the look-up waits 2 s).
local ANSWER_WINDOW = 3

local function take_port(port)
    if taken_ports[port] == nil then
        taken_ports[port] = tcp_table:get_dissector(port) or false
        tcp_table:add(port, zelbin)
    end
end

local function give_back_port(port)
    local previous = taken_ports[port]
    if previous == nil then return end
    tcp_table:remove(port, zelbin)
    if previous then tcp_table:add(port, previous) end
    taken_ports[port] = nil
end

function zelbin.prefs_changed()
    if pref_port ~= 0 then give_back_port(pref_port) end
    pref_port = zelbin.prefs.tcp_port
    if pref_port ~= 0 then take_port(pref_port) end
end

function zelbin.init()
    for port in pairs(taken_ports) do
        if port ~= pref_port then give_back_port(port) end
    end
    streams = {}
    last_request_time = nil
end

-- A string on the wire: a 16-bit length, then that many bytes of UTF-8.
local function add_string(tree, field, tvb, offset)
    if offset + 2 > tvb:len() then return nil end
    local n = tvb(offset, 2):uint()
    if offset + 2 + n > tvb:len() then return nil end
    local text = n > 0 and tvb(offset + 2, n):string(ENC_UTF_8) or ""
    tree:add(field, tvb(offset, 2 + n), text)
    return offset + 2 + n, text
end

local function mask_names(mask)
    local names = {}
    for _, c in ipairs(categories) do
        if bit.band(mask, c[1]) ~= 0 then names[#names + 1] = c[2] end
    end
    return #names > 0 and table.concat(names, ",") or "none"
end

local function add_mask(tree, tvb, mask)
    local item = tree:add(f.logmask, tvb, mask)
    item:append_text(" (" .. mask_names(mask) .. ")")
    tree:add(f.logmask_names, tvb, mask_names(mask))
end

-- An argument list: a count, then entries of a 32-bit size, a type byte and the value. Returns
-- the entries read, in order, each { type = its type byte, value = its number or text (nil for
-- a blob or an unknown type) }, or nil when the bytes do not hold them.
local function add_arguments(tree, tvb, offset)
    if offset + 4 > tvb:len() then return nil end
    local count = tvb(offset, 4):uint()
    local list = tree:add(f.arguments, tvb(offset, 4), count)
    offset = offset + 4
    local values = {}
    for i = 1, count do
        if offset + 4 > tvb:len() then return nil end
        local size = tvb(offset, 4):uint()
        if size < 1 or offset + 4 + size > tvb:len() then return nil end
        local entry = tvb(offset + 4, size)
        local t = entry(0, 1):uint()
        local item = list:add(zelbin, tvb(offset, 4 + size), "Argument " .. i .. ": " .. (arg_types[t] or "?"))
        item:add(f.arg_type, entry(0, 1))
        local value
        if (t == 1 or t == 2) and size >= 2 then
            value = entry(1, 1):uint(); item:add(f.arg_uint, entry(1, 1), value)
        elseif (t == 3 or t == 4 or t == 11) and size >= 3 then
            value = entry(1, 2):uint(); item:add(f.arg_uint, entry(1, 2), value)
        elseif t == 5 and size >= 5 then
            value = entry(1, 4):uint(); item:add(f.arg_uint, entry(1, 4), value)
        elseif t == 6 and size >= 5 then
            value = entry(1, 4):float(); item:add(f.arg_double, entry(1, 4), value)
        elseif t == 7 and size >= 9 then
            value = entry(1, 8):float(); item:add(f.arg_double, entry(1, 8), value)
        elseif (t == 8 or t == 10) then
            local next_offset
            next_offset, value = add_string(item, f.arg_text, entry, 1)
            if not next_offset then return nil end
        elseif t == 9 and size > 5 then
            item:add(f.arg_bytes, entry(5, size - 5))
        end
        values[i] = { type = t, value = value }
        offset = offset + 4 + size
    end
    return values
end

-- The value of argument i when it is of one of the types its message announces; otherwise nil,
-- and an expert item that says what came instead.
local function typed(tree, values, i, types, wanted)
    local entry = values[i]
    if entry and types[entry.type] and entry.value ~= nil then return entry.value end
    local text
    if not entry then
        text = "nothing where a " .. wanted .. " goes"
    elseif types[entry.type] then
        text = "a " .. wanted .. " of too few bytes"
    else
        text = (arg_types[entry.type] or ("type " .. entry.type)) .. " where a " .. wanted .. " goes"
    end
    tree:add_proto_expert_info(mismatch, "Argument " .. i .. ": " .. text)
    return nil
end

local function dissect_body(id, tree, tvb, offset, pinfo)
    if id == 1 then
        if offset + 4 > tvb:len() then return false end
        tree:add(f.registration, tvb(offset, 4))
    elseif id == 8 then
        if offset + 4 > tvb:len() then return false end
        local count = tvb(offset, 4):int()
        tree:add(f.receivers, tvb(offset, 4))
        offset = offset + 4
        for _ = 1, math.max(count, 0) do
            if offset + 8 > tvb:len() then return false end
            local record = tree:add(zelbin, tvb(offset), "Receiver " .. tvb(offset, 4):uint())
            record:add(f.receiver_id, tvb(offset, 4))
            record:add(f.receiver_state, tvb(offset + 4, 4))
            local name
            offset, name = add_string(record, f.receiver_name, tvb, offset + 8)
            if not offset then return false end
            record:append_text(" \"" .. name .. "\"")
        end
    elseif id == 9 then
        local values = add_arguments(tree, tvb, offset)
        if not values then return false end
        local receiver = typed(tree, values, 1, { [5] = true }, "uint32")
        if receiver then tree:add(f.command_receiver, tvb(offset), receiver) end
        local text = typed(tree, values, 2, { [8] = true, [10] = true }, "wide string")
        if text then
            tree:add(f.command_text, tvb(offset), text)
            pinfo.cols.info:append(" \"" .. text .. "\"")
        end
    elseif id == 11 then
        local next_offset, path = add_string(tree, f.logfile, tvb, offset)
        if not next_offset then return false end
        pinfo.cols.info:append(" " .. path)
    elseif id == 12 then
        if offset + 4 > tvb:len() then return false end
        add_mask(tree, tvb(offset, 4), tvb(offset, 4):uint())
    elseif id == 15 then
        local values = add_arguments(tree, tvb, offset)
        if not values then return false end
        local mask = typed(tree, values, 1, { [5] = true }, "uint32")
        if mask then add_mask(tree, tvb(offset), mask) end
    end
    return true
end

-- One frame: the length, then the message.
local function dissect_frame(tvb, pinfo, tree)
    local length = tvb(0, 4):uint()
    local subtree = tree:add(zelbin, tvb, "Zelbin message")
    subtree:add(f.length, tvb(0, 4))
    if length < 5 then
        subtree:add_proto_expert_info(malformed, "A message is at least 5 bytes long")
        return
    end
    local id = tvb(4, 4):uint()
    local kind = tvb(8, 1):uint()
    local name = message_names[id] or ("unknown " .. id)
    subtree:add(f.id, tvb(4, 4))
    subtree:add(f.name, tvb(4, 4), name)
    subtree:add(f.kind, tvb(8, 1))
    subtree:append_text(": " .. name)
    pinfo.cols.info:append((#tostring(pinfo.cols.info) > 0 and ", " or "") .. name)
    local offset = 9
    if kind == 2 or kind == 3 then
        if length < 9 then
            subtree:add_proto_expert_info(malformed, "No correlation value")
            return
        end
        subtree:add(f.correlation, tvb(9, 4))
        offset = 13
    end
    if not dissect_body(id, subtree, tvb, offset, pinfo) then
        subtree:add_proto_expert_info(malformed, "The body is shorter than its class needs")
    end
end

-- The stream: the handshake when a segment starts with it, then frames, reassembled across
-- segments.
local function dissect_stream(tvb, pinfo, tree)
    pinfo.cols.protocol = "Zelbin"
    pinfo.cols.info:clear()
    local offset = 0
    while offset < tvb:len() do
        local remaining = tvb:len() - offset
        if remaining >= 16 and tvb(offset, 16):bytes():tohex() == IDENTIFIER then
            tree:add(zelbin, tvb(offset, 16), "Zelbin handshake"):add(f.handshake, tvb(offset, 16))
            pinfo.cols.info:append("Handshake")
            offset = offset + 16
        else
            if remaining < 4 then
                pinfo.desegment_offset = offset
                pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
                return tvb:len()
            end
            local length = tvb(offset, 4):uint()
            if length > MAX_FRAME then
                tree:add(zelbin, tvb(offset)):add_proto_expert_info(malformed,
                    "A length above 16 MiB ends the connection")
                return tvb:len()
            end
            if remaining < 4 + length then
                pinfo.desegment_offset = offset
                pinfo.desegment_len = 4 + length - remaining
                return tvb:len()
            end
            dissect_frame(tvb(offset, 4 + length):tvb(), pinfo, tree)
            offset = offset + 4 + length
        end
    end
    return offset
end

local function starts_with_handshake(tvb)
    return tvb:len() >= 16 and tvb(0, 16):bytes():tohex() == IDENTIFIER
end

-- The port's own dissector: a stream on a learnt port is the service's only when its first
-- bytes are the handshake; any other goes to what the port had before.
function zelbin.dissector(tvb, pinfo, tree)
    local stream = tcp_stream()
    stream = stream and stream.value
    if stream ~= nil and streams[stream] == nil then
        streams[stream] = pinfo.match_uint == pref_port or starts_with_handshake(tvb)
    end
    if stream == nil or streams[stream] then
        return dissect_stream(tvb, pinfo, tree)
    end
    local previous = taken_ports[pinfo.match_uint]
    if previous then return previous:call(tvb, pinfo, tree) end
    return 0
end

-- Without a learnt port: a segment that starts with the handshake, or with a frame whose length,
-- identifier and kind are the protocol's.
local function heuristic(tvb, pinfo, tree)
    local n = tvb:len()
    local ours = starts_with_handshake(tvb)
    if not ours and n >= 9 then
        local length = tvb(0, 4):uint()
        ours = length >= 5 and length <= MAX_FRAME and message_names[tvb(4, 4):uint()] ~= nil and
            kind_names[tvb(8, 1):uint()] ~= nil
    end
    if not ours then return false end
    local stream = tcp_stream()
    if stream then streams[stream.value] = true end
    pinfo.conversation = zelbin
    dissect_stream(tvb, pinfo, tree)
    return true
end
zelbin:register_heuristic("tcp", heuristic)

function lookup.dissector(tvb, pinfo, tree)
    if tvb:len() < 20 then return 0 end
    local code = tvb(0, 4):uint()
    if not lookup_codes[code] or tvb(4, 16):bytes():tohex() ~= IDENTIFIER then return 0 end
    pinfo.cols.protocol = "Zelbin"
    local subtree = tree:add(lookup, tvb, "Zelbin look-up")
    subtree:add(lf.code, tvb(0, 4))
    subtree:add(lf.identifier, tvb(4, 16))
    pinfo.cols.info = lookup_codes[code]
    local now = pinfo.abs_ts
    if code == 100 and tvb:len() == 20 then
        last_request_time = now
    elseif code == 101 and tvb:len() == 22 then
        local port = tvb(20, 2):uint()
        subtree:add(lf.port, tvb(20, 2))
        pinfo.cols.info:append(", port " .. port)
        -- The service's port, learnt from an answer: its connections that begin with the
        -- handshake are dissected from here on. A reply that nobody asked for teaches nothing.
        if last_request_time and now >= last_request_time and
            now - last_request_time <= ANSWER_WINDOW then
            take_port(port)
        else
            subtree:add_proto_expert_info(unasked)
        end
    end
    return tvb:len()
end
DissectorTable.get("udp.port"):add(LOOKUP_PORT, lookup)
