// Reads a scale through the OstrelPesolink driver, late bound.
//
//   cscript //nologo client.js CONNECTION [CONNECTION ...]
//
// CONNECTION is a serial port (COM5) or a TCP endpoint (127.0.0.1:5001).
// Every function member returns a result code: 0 is success, 1 no usable
// connection, 2 no reply in time, 5 refused by the scale, others are the
// scale's own error codes. Values are read from properties afterwards.
var failures = 0;

function report(what, code) {
    WScript.Echo("  " + what + ": result " + code);
    if (code !== 0) failures++;
    return code === 0;
}

function readScale(connection) {
    var scales = new ActiveXObject("OstrelPesolink.Scales");
    WScript.Echo("Scale at " + connection);
    scales.Connection = connection;
    if (!report("OpenConnection", scales.OpenConnection())) return;
    // The line setting the scale answered at (0 on TCP).
    WScript.Echo("  line: " + scales.BaudRate + " baud, parity code " + scales.Parity);

    if (report("ReadWeight", scales.ReadWeight()))
        WScript.Echo("    weight " + scales.Weight + ", division " + scales.Division + ", stable " + scales.Stable +
                     ", net " + scales.NetIndication + ", zero " + scales.ZeroIndication);
    if (report("GetTare", scales.GetTare()))
        WScript.Echo("    tare " + scales.TareWeight);
    if (report("GetName", scales.GetName()))
        WScript.Echo("    scale " + scales.ScalesID + " \"" + scales.Name + "\"");
    if (report("GetEthernet", scales.GetEthernet()))
        WScript.Echo("    ethernet " + scales.IpAddress + " mask " + scales.Mask + " gateway " + scales.Gateway +
                     " port " + scales.PortEthernet);
    if (report("GetWiFi", scales.GetWiFi()))
        WScript.Echo("    wi-fi \"" + scales.SSID + "\" " + scales.IpAddressWiFi + " mask " + scales.MaskWiFi +
                     " gateway " + scales.GatewayWiFi + " port " + scales.PortWiFi);
    if (report("GetWiFiAP", scales.GetWiFiAP()))
        WScript.Echo("    access point " + scales.ApIpAddressWiFi + " \"" + scales.ApSSID + "\" key " + scales.ApKey);
    report("CloseConnection", scales.CloseConnection());
}

var args = WScript.Arguments;
if (args.length === 0) {
    WScript.Echo("usage: cscript //nologo client.js COM5|127.0.0.1:PORT ...");
    WScript.Quit(2);
}
for (var i = 0; i < args.length; i++) {
    try {
        readScale(args(i));
    } catch (e) {
        // A failure raised inside the driver (not a result code).
        WScript.Echo("  failed: " + e.description + " (0x" + (e.number >>> 0).toString(16) + ")");
        failures++;
    }
}
WScript.Quit(failures);
