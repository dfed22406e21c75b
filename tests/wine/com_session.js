// A whole session through the driver, late bound from JScript, against the
// simulated scales that the test fixtures started and scripts/wine-checks/com.sh filled:
//
//   cscript //nologo com_session.js tcp GOOD FAULTY CLOSED
//   cscript //nologo com_session.js serial PORT
//
// Same scales and values as com_session.vbs; here the checks are tables of
// members and expected results. Prints one line per failed check and
// "N passed, N failed" at the end; the exit code is the number of failures.
var E_UNEXPECTED = 0x8000FFFF;
var passed = 0, failed = 0;

function check(what, actual, expected) {
    if (typeof actual === typeof expected && actual === expected) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAIL " + what + ": got [" + actual + "] (" + typeof actual + "), expected [" + expected + "]");
    }
}

// Steps: ["call", member, code] runs a function member and checks its
// result code; ["get", property, value] checks a get; ["put", property,
// value] puts a value.
function run(s, steps) {
    for (var i = 0; i < steps.length; i++) {
        var op = steps[i][0], name = steps[i][1], value = steps[i][2];
        if (op === "call") check(name, s[name](), value);
        else if (op === "get") check(name, s[name], value);
        else s[name] = value;
    }
}

// The call raises: a failure status with the server's error information.
function checkRaises(what, call) {
    try {
        call();
        check(what + " raises", "no failure", "E_UNEXPECTED");
    } catch (e) {
        check(what + " status", e.number >>> 0, E_UNEXPECTED);
        check(what + " text", e.description.length > 0, true);
    }
}

function create(text) {
    var s = new ActiveXObject("OstrelPesolink.Scales");
    if (text !== undefined) s.Connection = text;
    return s;
}

function session(text, serial) {
    var s = create(text);
    run(s, [["call", "OpenConnection", 0],
            ["get", "BaudRate", serial ? 19200 : 0], ["get", "Parity", serial ? 4 : 0],
            ["call", "ReadWeight", 0], ["get", "Weight", 2500], ["get", "Division", 3],
            ["get", "Stable", 1], ["get", "NetIndication", 1], ["get", "ZeroIndication", 0],
            ["call", "GetTare", 0], ["get", "TareWeight", -250]]);
    // The scale's tare is negative: stored by GetTare, refused by SetTare.
    checkRaises("SetTare of a negative tare", function () { s.SetTare(); });
    run(s, [["put", "TareWeight", 120], ["call", "SetTare", 0], ["put", "TareWeight", 0],
            ["call", "GetTare", 0], ["get", "TareWeight", 120],
            ["call", "SetZero", 0], ["call", "ReadWeight", 0], ["get", "Weight", 0],

            ["call", "GetName", 0], ["get", "ScalesID", "4711"], ["get", "Name", "Bench"],
            ["get", "ApSSID", "Os_004711"],
            // A character of the scale's code page beyond ASCII.
            ["put", "Name", "Lab \u00e9"], ["call", "SetName", 0], ["put", "Name", ""],
            ["call", "GetName", 0], ["get", "Name", "Lab \u00e9"],

            ["call", "GetEthernet", 0], ["get", "IpAddress", "192.168.7.20"],
            ["get", "Mask", "255.255.255.0"], ["get", "Gateway", "192.168.7.1"], ["get", "PortEthernet", 5001],
            ["put", "IpAddress", "192.168.7.22"], ["put", "Mask", "255.255.252.0"],
            ["put", "Gateway", "192.168.4.1"], ["put", "PortEthernet", 6001], ["call", "SetEthernet", 0],
            ["put", "IpAddress", ""], ["put", "PortEthernet", 0], ["call", "GetEthernet", 0],
            ["get", "IpAddress", "192.168.7.22"], ["get", "Mask", "255.255.252.0"],
            ["get", "Gateway", "192.168.4.1"], ["get", "PortEthernet", 6001],

            ["call", "GetWiFi", 0], ["get", "SSID", "Yard"], ["get", "Key", "secret"],
            ["get", "IpAddressWiFi", "192.168.8.30"], ["get", "MaskWiFi", "255.255.0.0"],
            ["get", "GatewayWiFi", "192.168.8.1"], ["get", "PortWiFi", 5000],
            ["get", "ApIpAddressWiFi", "192.168.4.1"],
            ["put", "SSID", "Field"], ["put", "Key", "k3"], ["put", "IpAddressWiFi", "192.168.9.40"],
            ["put", "MaskWiFi", "255.255.255.128"], ["put", "GatewayWiFi", "192.168.9.1"],
            ["put", "PortWiFi", 7000], ["call", "SetWifi", 0], ["put", "SSID", ""], ["call", "GetWiFi", 0],
            ["get", "SSID", "Field"], ["get", "Key", "k3"], ["get", "IpAddressWiFi", "192.168.9.40"],
            ["get", "MaskWiFi", "255.255.255.128"], ["get", "GatewayWiFi", "192.168.9.1"],
            ["get", "PortWiFi", 7000],

            ["call", "GetWiFiAP", 0], ["get", "ApIpAddressWiFi", "192.168.4.1"],
            ["put", "ApIpAddressWiFi", "192.168.4.7"], ["call", "SetWiFiAP", 0],
            ["put", "ApIpAddressWiFi", ""], ["call", "GetWiFiAP", 0], ["get", "ApIpAddressWiFi", "192.168.4.7"],

            ["get", "Connection", text], ["call", "CloseConnection", 0],
            // After the close: no TCP connection to send on (1); on the
            // closed serial port no reply comes (2).
            ["call", "ReadWeight", serial ? 2 : 1]]);
}

var functions = ["OpenConnection", "CloseConnection", "ReadWeight", "SetTare", "GetTare", "SetZero", "GetName",
                 "SetName", "GetEthernet", "SetEthernet", "GetWiFi", "SetWifi", "GetWiFiAP", "SetWiFiAP"];

function tcpRun(good, faulty, closed) {
    // A fresh object: every function member gives 1.
    var fresh = create();
    for (var i = 0; i < functions.length; i++) check("fresh " + functions[i], fresh[functions[i]](), 1);
    run(fresh, [["get", "ApSSID", "Os_000000"], ["get", "ApKey", "Qorvin4863"], ["get", "BaudRate", 0],
                ["get", "Parity", 0], ["get", "Name", ""]]);

    // Texts that name no usable link.
    var texts = ["X1", "com5", "127.0.0.1", closed];
    for (i = 0; i < texts.length; i++) check("open " + texts[i], create(texts[i]).OpenConnection(), 1);
    var early = create("C12");
    check("open C12", early.OpenConnection(), 1);
    checkRaises("ReadWeight without exchange worker", function () { early.ReadWeight(); });

    session(good, false);

    // The faulty scale: error replies passed on or mapped, silence, refusals,
    // interface errors.
    var s = create(faulty);
    run(s, [["call", "OpenConnection", 0],
            ["call", "ReadWeight", 17],  // error reply with code 17: passed on
            ["call", "ReadWeight", 7],   // code 5: unrecognised
            ["call", "ReadWeight", 2],   // code 3: no valid reply
            ["call", "ReadWeight", 0],
            ["call", "GetTare", 2],      // no reply in time
            ["put", "TareWeight", 10], ["call", "SetTare", 5], ["call", "SetZero", 5],
            ["put", "Name", "Other"], ["call", "SetName", 5],
            ["call", "GetEthernet", 4], ["call", "SetEthernet", 4],
            ["call", "GetWiFi", 4], ["call", "SetWifi", 4], ["call", "GetWiFiAP", 4], ["call", "SetWiFiAP", 4],
            ["call", "CloseConnection", 0]]);
}

var args = WScript.Arguments;
if (args.length === 4 && args(0) === "tcp") {
    tcpRun(args(1), args(2), args(3));
} else if (args.length === 2 && args(0) === "serial") {
    session(args(1), true);
} else {
    WScript.Echo("usage: cscript //nologo com_session.js tcp GOOD FAULTY CLOSED | serial PORT");
    WScript.Quit(2);
}
WScript.Echo("jscript session: " + passed + " passed, " + failed + " failed");
WScript.Quit(failed);
