-- Wireshark dissectors for the remote's two links.
--
-- nkil   Frames of the internal link, the serial line between the remote's
--        application processor and its internal processor, as pcap files made by
--        serialcap2pcap.py: a user link type (DLT_USER0 unless the preference
--        says otherwise) whose packets are one direction byte (0: remote to
--        internal processor, 1: internal processor to remote) followed by one
--        frame as on the wire. Decoded: the frame (start byte 0x82, stuffing with
--        0x90, end byte 0x0A), the message (CRC-32/MPEG-2 over the packet, most
--        significant byte first), the transport header (class, packet number,
--        service id) and the payloads of the six services.
-- ruzad  R-Uzad messages between the remote and its base unit on TCP port 1147,
--        reassembled across segments, and the R-Uzad messages the fallback
--        service tunnels over the internal link.
--
-- Load with `wireshark -X lua_script:norvik.lua` or copy it into the personal Lua
-- plugins folder (Help > About > Folders). Bad CRCs and application checksums are
-- expert infos (nkil.crc.bad, ruzad.checksum.bad), so `_ws.expert` finds them.

local bit = bit32

---------------------------------------------------------------------------
-- Internal link
---------------------------------------------------------------------------

local STX, ETX, DLE = 0x82, 0x0A, 0x90

local nkil = Proto("nkil", "Norvik internal link")

local direction_names = { [0] = "Remote -> internal processor", [1] = "Internal processor -> remote" }
local class_names = {
    [0] = "Reserved",
    [1] = "Data (the transport acknowledges)",
    [2] = "Request (the service answers)",
    [3] = "Acknowledgement or answer",
}
local service_names = {
    [0] = "System event",
    [1] = "Process data",
    [2] = "Configuration",
    [3] = "Notification",
    [4] = "C fallback (service forward)",
    [5] = "G fallback (R-Uzad tunnel)",
    [6] = "Power (no service)",
}
local checksum_status_names = { [0] = "Bad", [1] = "Good", [2] = "Unverified" }
local event_names = {
    [0] = "RESET", [1] = "SELECT", [2] = "UNSELECT", [3] = "ARM_REQUEST", [4] = "DISARM_REQUEST",
    [5] = "INACTIVITY", [6] = "POWER_OFF", [10] = "SELECT_OK", [11] = "SELECT_FAIL",
    [12] = "UNSELECT_DONE", [13] = "ARM_OK", [14] = "ARM_FAIL", [15] = "DISARM_DONE",
    [20] = "SHUTDOWN",
}
local notification_kind_names = {
    [0] = "Notification", [1] = "Withdrawal", [2] = "Acknowledgement", [3] = "Vibration and buzzer",
}
local notification_id_names = {
    [0] = "GENERIC", [1] = "STOP_ACTIVE", [2] = "RU_DROP_DETECTED", [3] = "RU_SHOCK_DETECTED",
    [4] = "SELECT_FAILED", [5] = "ARM_FAIL_STOP_ACTIVE", [6] = "ARM_FAIL_DROP",
    [7] = "ARM_FAIL_SHOCK", [8] = "ARM_FAIL_NO_BU_COM", [9] = "ARM_FAIL_BU_ALLREADY_ARMED",
    [10] = "ARMED_OK", [11] = "DISABLE_INACTIVITY", [12] = "DISABLE_TILTING",
    [13] = "EXT_STOP_TRIG_STOP_ACTIVATED", [14] = "EXT_STOP_TRIG_RU_DROP_OR_SHOCK",
    [15] = "EXT_STOP_TRIG_INTERNAL_ERROR", [16] = "EXT_STOP_TRIG_LOSS_OF_CONTROLL",
    [17] = "EXT_STOP_TRIG_LOSS_OF_COM", [18] = "POWER_OF_IN_ARMED", [19] = "RU_POWER_DOWN",
}
local severity_names = { [0] = "Info", [1] = "Warning", [2] = "Alarm" }
-- The eight tags of the status frame the remote sends every 500 ms, in frame order.
local status_tags = { "ru_identity", "rc_state", "g_link_status", "g_link_rssi", "g_link_cable",
    "ru_battery", "ru_charge_state", "led_control_1_to_8" }

local f = {
    direction = ProtoField.uint8("nkil.direction", "Direction", base.DEC, direction_names),
    frame_len = ProtoField.uint32("nkil.frame.length", "Frame length on the wire"),
    escapes = ProtoField.uint32("nkil.frame.escapes", "Escaped bytes"),
    msg_len = ProtoField.uint32("nkil.message.length", "Message length"),
    control = ProtoField.uint8("nkil.control", "Control byte", base.HEX),
    class = ProtoField.uint8("nkil.class", "Message class", base.DEC, class_names, 0xC0),
    pktnum = ProtoField.uint8("nkil.pktnum", "Packet number", base.DEC, nil, 0x3F),
    service = ProtoField.uint8("nkil.service", "Service", base.DEC, service_names),
    payload = ProtoField.bytes("nkil.payload", "Payload"),
    crc = ProtoField.uint32("nkil.crc", "CRC", base.HEX),
    crc_computed = ProtoField.uint32("nkil.crc.computed", "Computed CRC", base.HEX),
    crc_status = ProtoField.uint8("nkil.crc.status", "CRC status", base.DEC, checksum_status_names),
    answers = ProtoField.framenum("nkil.answers", "Answers the packet in frame", base.NONE,
        frametype.REQUEST),
    answered_in = ProtoField.framenum("nkil.answered_in", "Answered in frame", base.NONE,
        frametype.RESPONSE),
    repeat_of = ProtoField.framenum("nkil.retransmission_of", "Retransmission of frame"),
    -- service 0
    event = ProtoField.uint8("nkil.sysev.event", "Event", base.DEC, event_names),
    -- service 1
    pd_input = ProtoField.bytes("nkil.pd.input", "Input frame"),
    pd_status = {},
    -- service 2
    cfg_key = ProtoField.string("nkil.cfg.key", "Parameter key"),
    cfg_value = ProtoField.uint32("nkil.cfg.value", "Value", base.DEC),
    cfg_version = ProtoField.string("nkil.cfg.version", "Version"),
    -- service 3
    ntf_kind = ProtoField.uint8("nkil.ntf.kind", "Kind", base.DEC, notification_kind_names),
    ntf_ref = ProtoField.uint16("nkil.ntf.reference", "Reference"),
    ntf_id = ProtoField.uint16("nkil.ntf.id", "Notification", base.DEC, notification_id_names),
    ntf_target = ProtoField.uint8("nkil.ntf.target", "Target", base.DEC, { [2] = "Popup" }),
    ntf_severity = ProtoField.uint8("nkil.ntf.severity", "Severity", base.DEC, severity_names),
    ntf_ack = ProtoField.uint8("nkil.ntf.acknowledge", "Acknowledge"),
    ntf_text = ProtoField.string("nkil.ntf.text", "Text"),
    ntf_left = ProtoField.uint8("nkil.ntf.left", "Left motor"),
    ntf_right = ProtoField.uint8("nkil.ntf.right", "Right motor"),
    ntf_buzzer = ProtoField.uint8("nkil.ntf.buzzer", "Buzzer"),
    -- services 4 and 5
    forward = ProtoField.bytes("nkil.cfb.data", "Service-forward data"),
    block = ProtoField.bytes("nkil.gfb.block", "Tunnel data"),
}
for _, name in ipairs(status_tags) do
    if name == "led_control_1_to_8" then
        f.pd_status[name] = ProtoField.bytes("nkil.pd." .. name, name)
    elseif name == "ru_charge_state" then
        f.pd_status[name] = ProtoField.int32("nkil.pd." .. name, name)
    else
        f.pd_status[name] = ProtoField.uint32("nkil.pd." .. name, name)
    end
end

local fields = {}
for _, field in pairs(f) do
    if type(field) == "table" then
        for _, sub in pairs(field) do fields[#fields + 1] = sub end
    else
        fields[#fields + 1] = field
    end
end
nkil.fields = fields

local e = {
    crc_bad = ProtoExpert.new("nkil.crc.bad", "Bad CRC", expert.group.CHECKSUM, expert.severity.ERROR),
    no_stx = ProtoExpert.new("nkil.frame.no_start", "Frame does not begin with the start byte 0x82",
        expert.group.MALFORMED, expert.severity.WARN),
    no_etx = ProtoExpert.new("nkil.frame.no_end", "Frame does not end with the end byte 0x0A",
        expert.group.MALFORMED, expert.severity.WARN),
    stray = ProtoExpert.new("nkil.frame.stray_delimiter",
        "Delimiter inside the frame; the receiver drops it", expert.group.MALFORMED,
        expert.severity.WARN),
    short = ProtoExpert.new("nkil.short", "Too short; the receiver drops it", expert.group.MALFORMED,
        expert.severity.ERROR),
    payload_short = ProtoExpert.new("nkil.payload.short", "Payload too short for its kind",
        expert.group.MALFORMED, expert.severity.WARN),
    reserved = ProtoExpert.new("nkil.class.reserved", "Reserved class; the receiver does not deliver it",
        expert.group.PROTOCOL, expert.severity.WARN),
    layout = ProtoExpert.new("nkil.pd.layout", "Status frame length does not match the layout",
        expert.group.PROTOCOL, expert.severity.NOTE),
    retransmission = ProtoExpert.new("nkil.retransmission", "Retransmission",
        expert.group.SEQUENCE, expert.severity.NOTE),
    no_value = ProtoExpert.new("nkil.cfg.no_value", "No value (FF FF FF FF)",
        expert.group.RESPONSE_CODE, expert.severity.CHAT),
}
nkil.experts = { e.crc_bad, e.no_stx, e.no_etx, e.stray, e.short, e.payload_short, e.reserved, e.layout,
    e.retransmission, e.no_value }

nkil.prefs.user_dlt = Pref.uint("User link type", 0,
    "Which DLT_USERn (0 to 15) carries the frames; serialcap2pcap.py writes DLT_USER0 by default")
nkil.prefs.status_layout = Pref.string("Status frame layout", "2,1,1,1,1,1,1,8",
    "Byte sizes of the eight status tags (ru_identity ... led_control_1_to_8), as the tag tables give them")

local crc_table = {}
for i = 0, 255 do
    local c = bit.lshift(i, 24)
    for _ = 1, 8 do
        if bit.btest(c, 0x80000000) then
            c = bit.bxor(bit.lshift(c, 1), 0x04C11DB7)
        else
            c = bit.lshift(c, 1)
        end
    end
    crc_table[i] = c
end

-- CRC-32/MPEG-2 (MSB first, register starting at all ones, no final XOR) over bytes [first, last].
local function crc32(bytes, first, last)
    local crc = 0xFFFFFFFF
    for i = first, last do
        crc = bit.bxor(bit.lshift(crc, 8), crc_table[bit.bxor(bit.rshift(crc, 24), bytes:get_index(i))])
    end
    return crc
end

-- The receiver's unstuffing: delimiters are dropped wherever they are, 0x90 takes the next
-- byte XOR 0x80 (0x80 when it is the last byte).
local function unstuff(wire)
    local out, n, escapes, strays = ByteArray.new(), 0, 0, 0
    out:set_size(wire:len())
    local i, len = 0, wire:len()
    while i < len do
        local b = wire:get_index(i)
        if b == STX or b == ETX then
            if not (i == 0 and b == STX) and not (i == len - 1 and b == ETX) then
                strays = strays + 1
            end
        elseif b == DLE then
            local next_byte = (i + 1 < len) and wire:get_index(i + 1) or 0
            out:set_index(n, bit.bxor(next_byte, 0x80))
            n, i, escapes = n + 1, i + 1, escapes + 1
        else
            out:set_index(n, b)
            n = n + 1
        end
        i = i + 1
    end
    out:set_size(n)
    return out, escapes, strays
end

local function status_layout()
    local sizes = {}
    for size in string.gmatch(nkil.prefs.status_layout, "%d+") do
        sizes[#sizes + 1] = tonumber(size)
    end
    return sizes
end

-- What earlier frames told about later ones, filled on the first pass and read on every pass:
-- per frame, the request a class-3 packet answers, the answer to a request, the frame a
-- retransmission repeats, and a configuration answer's key.
local link = {}
local function reset_link_state()
    link = { answers = {}, answer_class = {}, answered_in = {}, repeat_of = {}, cfg_key = {}, open = {},
        last = {} }
end
reset_link_state()

local ruzad = Proto("ruzad", "R-Uzad") -- dissected below; the fallback tunnel carries it too

local function version_text(key, value)
    local b0, b2, b3 = bit.band(value, 0xFF), bit.band(bit.rshift(value, 16), 0xFF), bit.rshift(value, 24)
    if key == "RCSR" or key == "HWRV" then
        return string.format("%d.%d", b3, b2)
    elseif key == "ECSR" then
        return string.format("%d.%d.%d", b3, b2, b0)
    end
end

local function dissect_system_event(tvb, tree, class, dir)
    if class == 3 then
        return dir == 1 and "answer to the reset request" or "answer"
    end
    if tvb:len() < 1 then
        tree:add_proto_expert_info(e.payload_short)
        return "no event"
    end
    local event = tvb(0, 1):uint()
    tree:add(f.event, tvb(0, 1))
    if class == 2 and dir == 0 then
        return "reset request"
    end
    return event_names[event] or ("event " .. event)
end

local function dissect_process_data(tvb, tree, class, dir)
    if class == 3 then
        return "answer"
    end
    if dir == 1 then
        tree:add(f.pd_input, tvb())
        return string.format("input frame, %d bytes", tvb:len())
    end
    local sizes, total = status_layout(), 0
    for _, size in ipairs(sizes) do total = total + size end
    if #sizes ~= #status_tags or total ~= tvb:len() then
        tree:add_proto_expert_info(e.layout)
        return string.format("status frame, %d bytes", tvb:len())
    end
    local offset, identity = 0, nil
    for index, name in ipairs(status_tags) do
        local size = sizes[index]
        local range = tvb(offset, size)
        if size <= 4 and name ~= "led_control_1_to_8" then
            tree:add_le(f.pd_status[name], range)
            if index == 1 then identity = range:le_uint() end
        else
            tree:add(f.pd_status.led_control_1_to_8, range)
        end
        offset = offset + size
    end
    return "status frame" .. (identity and (", identity " .. identity) or "")
end

local function dissect_configuration(tvb, tree, class, key)
    if class == 2 then
        if tvb:len() < 4 then
            tree:add_proto_expert_info(e.payload_short)
            return "request"
        end
        tree:add(f.cfg_key, tvb(0, 4))
        return "request " .. tvb(0, 4):string()
    elseif class == 3 then
        if key then
            tree:add(f.cfg_key, key):set_generated()
        end
        if tvb:len() < 4 then
            tree:add_proto_expert_info(e.payload_short)
            return "answer"
        end
        local value = tvb(0, 4):le_uint()
        local item = tree:add_le(f.cfg_value, tvb(0, 4))
        local text = tostring(value)
        if value == 0xFFFFFFFF then
            item:add_proto_expert_info(e.no_value)
            text = "no value"
        elseif version_text(key, value) then
            text = version_text(key, value)
            tree:add(f.cfg_version, text):set_generated()
        end
        return string.format("answer %s = %s", key or "?", text)
    end
    return "data"
end

local function dissect_notification(tvb, tree)
    local len = tvb:len()
    if len < 1 then
        tree:add_proto_expert_info(e.payload_short)
        return "empty"
    end
    local kind = tvb(0, 1):uint()
    tree:add(f.ntf_kind, tvb(0, 1))
    local name = notification_kind_names[kind] or ("kind " .. kind)
    if kind == 3 then
        if len < 4 then
            tree:add_proto_expert_info(e.payload_short)
            return name
        end
        tree:add(f.ntf_left, tvb(1, 1))
        tree:add(f.ntf_right, tvb(2, 1))
        tree:add(f.ntf_buzzer, tvb(3, 1))
        return string.format("%s %d/%d/%d", name, tvb(1, 1):uint(), tvb(2, 1):uint(), tvb(3, 1):uint())
    end
    if len < 3 or (kind == 0 and len < 8) then
        tree:add_proto_expert_info(e.payload_short)
        return name
    end
    tree:add_le(f.ntf_ref, tvb(1, 2))
    local reference = tvb(1, 2):le_uint()
    if kind ~= 0 then
        return string.format("%s #%d", name, reference)
    end
    tree:add_le(f.ntf_id, tvb(3, 2))
    tree:add(f.ntf_target, tvb(5, 1))
    tree:add(f.ntf_severity, tvb(6, 1))
    tree:add(f.ntf_ack, tvb(7, 1))
    local text = ""
    if len > 8 then
        local range = tvb(8)
        text = range:stringz(ENC_UTF_8)
        tree:add(f.ntf_text, range, text)
    end
    local popup = tvb(5, 1):uint() == 2
    return string.format("%s #%d \"%s\"", popup and "Popup" or name, reference, text)
end

local function dissect_fallback(tvb, tree, pinfo, service, class, dir)
    if tvb:len() == 0 then
        if service == 4 then return class == 3 and "answer" or "empty" end
        return dir == 0 and "abort" or "block delivered"
    end
    if service == 4 then
        tree:add(f.forward, tvb())
        return string.format("%d bytes", tvb:len())
    end
    tree:add(f.block, tvb())
    if dir == 0 and tvb:len() >= 4 and tvb(0, 4):string() == "LrdA" then
        ruzad.dissector(tvb, pinfo, tree)
    end
    return string.format("tunnel block, %d bytes", tvb:len())
end

-- Pairs answers with requests and spots retransmissions; run once per frame, in order.
local function track(number, dir, class, pktnum, service, payload, cfg_key)
    if class == 1 or class == 2 then
        local previous = link.last[dir]
        if previous and previous.class == class and previous.pktnum == pktnum
            and previous.service == service and previous.payload == payload then
            link.repeat_of[number] = previous.number
        else
            link.last[dir] = { number = number, class = class, pktnum = pktnum, service = service,
                payload = payload }
        end
        local key = table.concat({ dir, service, pktnum }, "/")
        link.open[key] = { number = number, class = class,
            key = (class == 2 and service == 2) and cfg_key or nil }
    elseif class == 3 then
        local key = table.concat({ 1 - dir, service, pktnum }, "/")
        local request = link.open[key]
        if request then
            link.answers[number] = request.number
            link.answer_class[number] = request.class
            link.answered_in[request.number] = link.answered_in[request.number] or number
            link.cfg_key[number] = request.key
            link.open[key] = nil
        end
    end
end

function nkil.init()
    reset_link_state()
end

function nkil.dissector(tvb, pinfo, tree)
    if tvb:len() < 1 then return 0 end
    pinfo.cols.protocol = "NKIL"
    local dir = tvb(0, 1):uint()
    local root = tree:add(nkil, tvb())
    root:add(f.direction, tvb(0, 1))
    local frame = tvb(1)
    local wire = frame:bytes()
    local frame_tree = root:add(f.frame_len, frame, frame:len())
    if wire:len() == 0 or wire:get_index(0) ~= STX then
        frame_tree:add_proto_expert_info(e.no_stx)
    end
    if wire:len() == 0 or wire:get_index(wire:len() - 1) ~= ETX then
        frame_tree:add_proto_expert_info(e.no_etx)
    end
    local message, escapes, strays = unstuff(wire)
    frame_tree:add(f.escapes, escapes):set_generated()
    if strays > 0 then
        frame_tree:add_proto_expert_info(e.stray)
    end
    local arrow = dir == 0 and "RU->IP" or "IP->RU"
    pinfo.cols.src = dir == 0 and "RU" or "IP"
    pinfo.cols.dst = dir == 0 and "IP" or "RU"
    local n = message:len()
    if n < 4 then
        root:add_proto_expert_info(e.short, "Message shorter than its CRC")
        pinfo.cols.info = arrow .. " damaged frame"
        return tvb:len()
    end
    local mtvb = message:tvb("Unstuffed message")
    root:add(f.msg_len, mtvb(), n):set_generated()
    local received = mtvb(n - 4, 4):uint()
    local computed = crc32(message, 0, n - 5)
    local good = received == computed
    local crc_item = root:add(f.crc, mtvb(n - 4, 4))
    crc_item:add(f.crc_computed, computed):set_generated()
    crc_item:add(f.crc_status, good and 1 or 0):set_generated()
    if not good then
        crc_item:add_proto_expert_info(e.crc_bad)
    end
    local bad = good and "" or " [BAD CRC]"
    if n < 6 then
        root:add_proto_expert_info(e.short, "Message shorter than the transport header")
        pinfo.cols.info = arrow .. " no transport header" .. bad
        return tvb:len()
    end
    root:add(f.control, mtvb(0, 1))
    local class_item = root:add(f.class, mtvb(0, 1))
    root:add(f.pktnum, mtvb(0, 1))
    root:add(f.service, mtvb(1, 1))
    local control = mtvb(0, 1):uint()
    local class, pktnum, service = bit.rshift(control, 6), bit.band(control, 0x3F), mtvb(1, 1):uint()
    if class == 0 then
        class_item:add_proto_expert_info(e.reserved)
    end
    local ptvb = mtvb(2, n - 6):tvb()
    if n > 6 then
        root:add(f.payload, mtvb(2, n - 6))
    end

    -- Only frames the receiver accepts take part in pairing.
    if good and not pinfo.visited then
        track(pinfo.number, dir, class, pktnum, service,
            n > 6 and mtvb(2, n - 6):bytes():tohex() or "", n >= 10 and mtvb(2, 4):string() or nil)
    end
    if link.answers[pinfo.number] then
        root:add(f.answers, link.answers[pinfo.number]):set_generated()
    end
    if link.answered_in[pinfo.number] then
        root:add(f.answered_in, link.answered_in[pinfo.number]):set_generated()
    end
    if link.repeat_of[pinfo.number] then
        root:add(f.repeat_of, link.repeat_of[pinfo.number]):set_generated()
        root:add_proto_expert_info(e.retransmission)
    end

    local summary
    local stree = root:add(nkil, ptvb(), service_names[service] or ("Service " .. service))
    -- An empty class-3 packet that pairs with a data packet is the transport's acknowledgement;
    -- one that pairs with a request is the service's answer.
    if class == 3 and ptvb:len() == 0 and link.answer_class[pinfo.number] ~= 2 and service ~= 5 then
        summary = "acknowledgement"
    elseif service == 0 then
        summary = dissect_system_event(ptvb, stree, class, dir)
    elseif service == 1 then
        summary = dissect_process_data(ptvb, stree, class, dir)
    elseif service == 2 then
        summary = dissect_configuration(ptvb, stree, class, link.cfg_key[pinfo.number])
    elseif service == 3 then
        summary = dissect_notification(ptvb, stree)
    elseif service == 4 or service == 5 then
        summary = dissect_fallback(ptvb, stree, pinfo, service, class, dir)
    else
        summary = string.format("%d bytes", ptvb:len())
    end
    pinfo.cols.protocol = "NKIL"
    pinfo.cols.info = string.format("%s class %d #%d %s: %s%s", arrow, class, pktnum,
        service_names[service] or ("service " .. service), summary, bad)
    return tvb:len()
end

local registered_dlt
local function register_link_type()
    local encap = wtap_encaps.USER0 + math.min(nkil.prefs.user_dlt, 15)
    local table_ = DissectorTable.get("wtap_encap")
    if registered_dlt and registered_dlt ~= encap then
        table_:remove(registered_dlt, nkil)
    end
    table_:add(encap, nkil)
    registered_dlt = encap
end

---------------------------------------------------------------------------
-- R-Uzad
---------------------------------------------------------------------------

local HEADER_SIZE = 12

local id_names = {
    [0] = "HEARTBEAT", [1] = "INIT", [2] = "INITACK", [3] = "CMD", [4] = "PERIODIC_DATA",
    [5] = "SERVICE_FORWARD", [6] = "POWER_OFF", [7] = "E_STOP", [8] = "BU_STATUS",
}
-- Payload sizes of the ids whose payload is fixed.
local fixed_size = { [0] = 0, [1] = 22, [2] = 42, [6] = 0, [7] = 1, [8] = 3 }
local error_names = {
    [0] = "E_OK", [1] = "E_REMOTE_NOT_PAIRED", [2] = "E_PROTOCOL_VERSION_MISMATCH",
    [3] = "E_BU_NOT_READY", [4] = "E_APP_CHECKSUM_MISMATCH", [5] = "E_GENERIC",
    [65535] = "E_UNKNOWN",
}

local r = {
    magic = ProtoField.string("ruzad.magic", "Magic"),
    id = ProtoField.uint8("ruzad.id", "Message id", base.DEC, id_names),
    spare = ProtoField.uint8("ruzad.spare", "Spare"),
    size = ProtoField.uint16("ruzad.size", "Payload size"),
    timestamp = ProtoField.uint32("ruzad.timestamp", "Time stamp (ms, low 32 bits)"),
    payload = ProtoField.bytes("ruzad.payload", "Payload"),
    garbage = ProtoField.bytes("ruzad.garbage", "Bytes outside any message"),
    major = ProtoField.uint8("ruzad.init.major", "Protocol major version"),
    minor = ProtoField.uint8("ruzad.init.minor", "Protocol minor version"),
    remote_id = ProtoField.uint16("ruzad.init.remote_id", "Remote unit id"),
    base_id = ProtoField.uint16("ruzad.init.base_id", "Base unit id"),
    checksum = ProtoField.bytes("ruzad.init.checksum", "Application checksum"),
    checksum_status = ProtoField.uint8("ruzad.init.checksum.status", "Application checksum status",
        base.DEC, checksum_status_names),
    answered_in = ProtoField.framenum("ruzad.init.answered_in", "Answered in frame", base.NONE,
        frametype.RESPONSE),
    error = ProtoField.uint16("ruzad.initack.error", "Error code", base.DEC, error_names),
    text = ProtoField.string("ruzad.initack.text", "Text"),
    request = ProtoField.framenum("ruzad.initack.request", "Answers the INIT in frame", base.NONE,
        frametype.REQUEST),
    command = ProtoField.bytes("ruzad.cmd", "Command"),
    periodic = ProtoField.bytes("ruzad.periodic", "Periodic data frame"),
    forward = ProtoField.bytes("ruzad.service_forward", "Service-forward data"),
    estop = ProtoField.uint8("ruzad.estop", "Emergency stop byte", base.HEX),
    bu_identity = ProtoField.uint16("ruzad.bu.identity", "Base unit identity"),
    bu_state = ProtoField.uint8("ruzad.bu.state", "Base unit state"),
}
ruzad.fields = { r.magic, r.id, r.spare, r.size, r.timestamp, r.payload, r.garbage,
    r.major, r.minor, r.remote_id, r.base_id, r.checksum, r.checksum_status, r.answered_in,
    r.error, r.text, r.request, r.command, r.periodic, r.forward, r.estop, r.bu_identity,
    r.bu_state }

local re = {
    checksum_bad = ProtoExpert.new("ruzad.checksum.bad",
        "Application checksum does not match the base unit's", expert.group.CHECKSUM,
        expert.severity.ERROR),
    out_of_sync = ProtoExpert.new("ruzad.out_of_sync", "Bytes without the magic; the receiver drops them",
        expert.group.MALFORMED, expert.severity.ERROR),
    size = ProtoExpert.new("ruzad.size.unexpected", "Payload size differs from the fixed size",
        expert.group.MALFORMED, expert.severity.WARN),
    truncated = ProtoExpert.new("ruzad.truncated", "Message incomplete", expert.group.MALFORMED,
        expert.severity.WARN),
    refused = ProtoExpert.new("ruzad.initack.refused", "Handshake refused", expert.group.RESPONSE_CODE,
        expert.severity.WARN),
    unknown = ProtoExpert.new("ruzad.id.unknown", "Unknown message id; the receiver discards it",
        expert.group.PROTOCOL, expert.severity.WARN),
}
ruzad.experts = { re.checksum_bad, re.out_of_sync, re.size, re.truncated, re.refused, re.unknown }

ruzad.prefs.port = Pref.uint("TCP port", 1147, "TCP port of the base unit")
ruzad.prefs.app_checksum = Pref.string("Application checksum", "",
    "MD5 of the application in 32 hex digits; when set, INIT checksums are compared with it, "
        .. "otherwise judged by the base unit's INITACK")

-- INITs waiting for their INITACK per direction of a connection, and what was learnt, by frame.
local handshake = {}
local function reset_handshake_state()
    handshake = { pending = {}, answer = {}, request = {} }
end
reset_handshake_state()

function ruzad.init()
    reset_handshake_state()
end

local function endpoint_key(from_addr, from_port, to_addr, to_port)
    return string.format("%s:%s>%s:%s", tostring(from_addr), tostring(from_port), tostring(to_addr),
        tostring(to_port))
end

local function dissect_init(tvb, tree, pinfo)
    tree:add(r.major, tvb(0, 1))
    tree:add(r.minor, tvb(1, 1))
    tree:add_le(r.remote_id, tvb(2, 2))
    tree:add_le(r.base_id, tvb(4, 2))
    local item = tree:add(r.checksum, tvb(6, 16))
    if not pinfo.visited then
        handshake.pending[endpoint_key(pinfo.src, pinfo.src_port, pinfo.dst, pinfo.dst_port)] = pinfo.number
    end
    local status = 2
    local expected = string.lower(ruzad.prefs.app_checksum or "")
    local answer = handshake.answer[pinfo.number]
    if expected ~= "" then
        status = (tvb(6, 16):bytes():tohex(true) == expected:gsub("[^%x]", "")) and 1 or 0
    elseif answer then
        status = (answer.error == 0) and 1 or (answer.error == 4 and 0 or 2)
    end
    item:add(r.checksum_status, status):set_generated()
    if status == 0 then
        item:add_proto_expert_info(re.checksum_bad)
    end
    if answer then
        tree:add(r.answered_in, answer.number):set_generated()
    end
    return string.format("INIT v%d.%d remote %d -> base unit %d", tvb(0, 1):uint(), tvb(1, 1):uint(),
        tvb(2, 2):le_uint(), tvb(4, 2):le_uint())
end

local function dissect_initack(tvb, tree, pinfo)
    local code = tvb(0, 2):le_uint()
    local item = tree:add_le(r.error, tvb(0, 2))
    local text = tvb(2, 40):stringz(ENC_UTF_8)
    tree:add(r.text, tvb(2, 40), text)
    if not pinfo.visited then
        local key = endpoint_key(pinfo.dst, pinfo.dst_port, pinfo.src, pinfo.src_port)
        local init = handshake.pending[key]
        if init then
            handshake.pending[key] = nil
            handshake.answer[init] = { number = pinfo.number, error = code }
            handshake.request[pinfo.number] = init
        end
    end
    if handshake.request[pinfo.number] then
        tree:add(r.request, handshake.request[pinfo.number]):set_generated()
    end
    if code ~= 0 then
        item:add_proto_expert_info(re.refused)
    end
    if code == 4 then
        item:add_proto_expert_info(re.checksum_bad)
    end
    local summary = "INITACK " .. (error_names[code] or tostring(code))
    return text ~= "" and string.format("%s \"%s\"", summary, text) or summary
end

-- One complete message at the start of tvb; returns the summary for the info column.
local function dissect_message(tvb, tree, pinfo)
    local id, size = tvb(4, 1):uint(), tvb(6, 2):le_uint()
    local name = id_names[id] or ("id " .. id)
    local mtree = tree:add(ruzad, tvb(), "R-Uzad " .. name)
    mtree:add(r.magic, tvb(0, 4))
    mtree:add(r.id, tvb(4, 1))
    mtree:add(r.spare, tvb(5, 1))
    mtree:add_le(r.size, tvb(6, 2))
    mtree:add_le(r.timestamp, tvb(8, 4))
    if not id_names[id] then
        mtree:add_proto_expert_info(re.unknown)
    end
    if size == 0 then
        return name
    end
    local payload = tvb(HEADER_SIZE, size):tvb()
    local ptree = mtree:add(r.payload, tvb(HEADER_SIZE, size))
    if fixed_size[id] and fixed_size[id] ~= size then
        ptree:add_proto_expert_info(re.size,
            string.format("Payload size %d, %s carries %d", size, name, fixed_size[id]))
        return name
    end
    if id == 1 then
        return dissect_init(payload, ptree, pinfo)
    elseif id == 2 then
        return dissect_initack(payload, ptree, pinfo)
    elseif id == 3 then
        local item = ptree:add(r.command, payload())
        local text = payload():raw()
        if not text:find("[^%g ]") then
            item:append_text(" (\"" .. text .. "\")")
            return string.format("CMD \"%s\"", text)
        end
    elseif id == 4 then
        ptree:add(r.periodic, payload())
    elseif id == 5 then
        ptree:add(r.forward, payload())
    elseif id == 7 then
        ptree:add(r.estop, payload(0, 1))
    elseif id == 8 then
        ptree:add_le(r.bu_identity, payload(0, 2))
        ptree:add(r.bu_state, payload(2, 1))
        return string.format("BU_STATUS base unit %d state %d", payload(0, 2):le_uint(), payload(2, 1):uint())
    end
    return string.format("%s (%d bytes)", name, size)
end

local function find_magic(tvb, from)
    local len = tvb:len()
    for i = from, len - 4 do
        if tvb(i, 1):uint() == 0x4C and tvb(i, 4):string() == "LrdA" then
            return i
        end
    end
end

function ruzad.dissector(tvb, pinfo, tree)
    local len, offset, summaries = tvb:len(), 0, {}
    pinfo.cols.protocol = "R-Uzad"
    while offset < len do
        local start = find_magic(tvb, offset)
        if start ~= offset then
            -- The receiver skips to the next magic, or drops everything when there is none.
            local stop = start or len
            local item = tree:add(ruzad, tvb(offset, stop - offset), "R-Uzad, out of sync")
            item:add(r.garbage, tvb(offset, stop - offset))
            item:add_proto_expert_info(re.out_of_sync)
            summaries[#summaries + 1] = "out of sync"
            offset = stop
            if not start then break end
        end
        local remaining = len - offset
        local need = HEADER_SIZE
        if remaining >= HEADER_SIZE then
            need = HEADER_SIZE + tvb(offset + 6, 2):le_uint()
        end
        if remaining < need then
            if pinfo.can_desegment > 0 then
                pinfo.desegment_offset = offset
                -- Without a whole header the size is unknown: ask for one more segment.
                pinfo.desegment_len = remaining < HEADER_SIZE and DESEGMENT_ONE_MORE_SEGMENT
                    or need - remaining
                break
            end
            local item = tree:add(ruzad, tvb(offset), "R-Uzad, incomplete message")
            item:add_proto_expert_info(re.truncated)
            summaries[#summaries + 1] = "incomplete"
            offset = len
            break
        end
        summaries[#summaries + 1] = dissect_message(tvb(offset, need):tvb(), tree, pinfo)
        offset = offset + need
    end
    if #summaries > 0 then
        pinfo.cols.info = table.concat(summaries, ", ")
    end
    return len
end

local registered_port
local function register_port()
    local tcp = DissectorTable.get("tcp.port")
    if registered_port and registered_port ~= ruzad.prefs.port then
        tcp:remove(registered_port, ruzad)
    end
    tcp:add(ruzad.prefs.port, ruzad)
    registered_port = ruzad.prefs.port
end

function nkil.prefs_changed() register_link_type() end
function ruzad.prefs_changed() register_port() end
register_link_type()
register_port()
