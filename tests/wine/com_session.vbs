' A whole session through the driver, late bound from VBScript, against the
' simulated scales that the test fixtures started and scripts/wine-checks/com.sh filled:
'
'   cscript //nologo com_session.vbs tcp GOOD FAULTY CLOSED
'   cscript //nologo com_session.vbs serial PORT
'
' GOOD and FAULTY are 127.0.0.1:PORT texts of a well-behaved scale and of
' one that refuses, errs and stays silent; CLOSED is a loopback port nobody
' listens on; PORT a COM port text of the good scale, whose line answers
' only at 19200 baud, space parity. The script resets the good scale's
' values before each run.
' Prints one line per check and "N passed, N failed" at the end; the exit
' code is the number of failed checks.
Option Explicit

Const E_UNEXPECTED = &H8000FFFF
Dim passed, failed
passed = 0
failed = 0

' Texts must come back as texts and numbers as numbers.
Sub Check(what, actual, expected)
    If (VarType(actual) = vbString) = (VarType(expected) = vbString) And actual = expected Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL " & what & ": got [" & actual & "] (type " & VarType(actual) & "), expected [" & expected & "]"
    End If
End Sub

' Runs a function member by name and checks its result code.
Sub Expect(scales, member, code)
    Check member, CallMember(scales, member), code
End Sub

Function CallMember(s, member)
    Select Case member
        Case "OpenConnection": CallMember = s.OpenConnection
        Case "CloseConnection": CallMember = s.CloseConnection
        Case "ReadWeight": CallMember = s.ReadWeight
        Case "SetTare": CallMember = s.SetTare
        Case "GetTare": CallMember = s.GetTare
        Case "SetZero": CallMember = s.SetZero
        Case "GetName": CallMember = s.GetName
        Case "SetName": CallMember = s.SetName
        Case "GetEthernet": CallMember = s.GetEthernet
        Case "SetEthernet": CallMember = s.SetEthernet
        Case "GetWiFi": CallMember = s.GetWiFi
        Case "SetWifi": CallMember = s.SetWifi
        Case "GetWiFiAP": CallMember = s.GetWiFiAP
        Case "SetWiFiAP": CallMember = s.SetWiFiAP
        Case Else: Err.Raise 5, , "no function member " & member
    End Select
End Function

Dim args
Set args = WScript.Arguments
If args.Count = 2 And args(0) = "serial" Then
    Session args(1), True
    Finish
End If
If args.Count <> 4 Or args(0) <> "tcp" Then
    WScript.Echo "usage: cscript //nologo com_session.vbs tcp GOOD FAULTY CLOSED | serial PORT"
    WScript.Quit 2
End If

Sub Finish()
    WScript.Echo "vbscript session: " & passed & " passed, " & failed & " failed"
    WScript.Quit failed
End Sub

Dim functions
functions = Array("OpenConnection", "CloseConnection", "ReadWeight", "SetTare", "GetTare", "SetZero", _
    "GetName", "SetName", "GetEthernet", "SetEthernet", "GetWiFi", "SetWifi", "GetWiFiAP", "SetWiFiAP")

' ---- a fresh object: no connection text, every function member gives 1
Dim s, f
Set s = CreateObject("OstrelPesolink.Scales")
For Each f In functions
    Expect s, f, 1
Next
Check "fresh BaudRate", s.BaudRate, 0
Check "fresh Parity", s.Parity, 0
Check "fresh ApSSID", s.ApSSID, "Os_000000"
Check "ApKey", s.ApKey, "Qorvin4863"
Check "fresh Name is empty", s.Name, ""

' ---- texts that name no usable link
Dim texts, t
texts = Array("X1", "com5", "127.0.0.1", args(3))
For Each t In texts
    Set s = CreateObject("OstrelPesolink.Scales")
    s.Connection = t
    Check "Connection " & t, s.Connection, t
    Expect s, "OpenConnection", 1
Next
' A text that stops before an exchange worker exists: commands raise.
Set s = CreateObject("OstrelPesolink.Scales")
s.Connection = "C12"
Expect s, "OpenConnection", 1
On Error Resume Next
Dim code
code = s.ReadWeight
Check "raised failure status", Err.Number, E_UNEXPECTED
Check "raised failure source", Err.Source, "OstrelPesolink.Scales"
Check "raised failure has a text", Len(Err.Description) > 0, True
Err.Clear
On Error GoTo 0

' ---- full session against the good scale
Sub Session(text, serial)
    Dim s, code
    Set s = CreateObject("OstrelPesolink.Scales")
    s.Connection = text
    Expect s, "OpenConnection", 0
    If serial Then
        Check "BaudRate found", s.BaudRate, 19200
        Check "Parity found", s.Parity, 4
    Else
        Check "BaudRate on TCP", s.BaudRate, 0
        Check "Parity on TCP", s.Parity, 0
    End If

    Expect s, "ReadWeight", 0
    Check "Weight", s.Weight, 2500
    Check "Division", s.Division, 3
    Check "Stable", s.Stable, 1
    Check "NetIndication", s.NetIndication, 1
    Check "ZeroIndication", s.ZeroIndication, 0

    ' The scale's tare is negative: stored by GetTare, refused by SetTare
    ' with an error status.
    Expect s, "GetTare", 0
    Check "TareWeight read", s.TareWeight, -250
    On Error Resume Next
    code = s.SetTare
    Check "SetTare of a negative tare", Err.Number, E_UNEXPECTED
    Check "SetTare error source", Err.Source, "OstrelPesolink.Scales"
    Err.Clear
    On Error GoTo 0
    s.TareWeight = -1
    Check "TareWeight put -1 dropped", s.TareWeight, -250
    s.TareWeight = 120
    Expect s, "SetTare", 0
    s.TareWeight = 0
    Expect s, "GetTare", 0
    Check "TareWeight after SetTare", s.TareWeight, 120

    Expect s, "SetZero", 0
    Expect s, "ReadWeight", 0
    Check "Weight after SetZero", s.Weight, 0

    Expect s, "GetName", 0
    Check "ScalesID", s.ScalesID, "4711"
    Check "Name", s.Name, "Bench"
    Check "ApSSID", s.ApSSID, "Os_004711"
    ' (Texts beyond ASCII: the JScript session; this VBScript engine has no ChrW.)
    s.Name = "Lab 2"
    Expect s, "SetName", 0
    s.Name = ""
    Expect s, "GetName", 0
    Check "Name after SetName", s.Name, "Lab 2"

    Expect s, "GetEthernet", 0
    Check "IpAddress", s.IpAddress, "192.168.7.20"
    Check "Mask", s.Mask, "255.255.255.0"
    Check "Gateway", s.Gateway, "192.168.7.1"
    Check "PortEthernet", s.PortEthernet, 5001
    s.IpAddress = "192.168.7.21"
    s.IpAddress = "192.168.7.256"
    Check "IpAddress put of a bad address dropped", s.IpAddress, "192.168.7.21"
    s.Mask = "255.255.0.0"
    s.Gateway = "192.168.0.1"
    s.PortEthernet = 5002
    s.PortEthernet = 65536
    Check "PortEthernet put 65536 dropped", s.PortEthernet, 5002
    Expect s, "SetEthernet", 0
    s.IpAddress = ""
    Check "IpAddress cleared", s.IpAddress, ""
    Expect s, "GetEthernet", 0
    Check "IpAddress after SetEthernet", s.IpAddress, "192.168.7.21"
    Check "Mask after SetEthernet", s.Mask, "255.255.0.0"
    Check "Gateway after SetEthernet", s.Gateway, "192.168.0.1"
    Check "PortEthernet after SetEthernet", s.PortEthernet, 5002

    Expect s, "GetWiFi", 0
    Check "SSID", s.SSID, "Yard"
    Check "Key", s.Key, "secret"
    Check "IpAddressWiFi", s.IpAddressWiFi, "192.168.8.30"
    Check "MaskWiFi", s.MaskWiFi, "255.255.0.0"
    Check "GatewayWiFi", s.GatewayWiFi, "192.168.8.1"
    Check "PortWiFi", s.PortWiFi, 5000
    Check "ApIpAddressWiFi from GetWiFi", s.ApIpAddressWiFi, "192.168.4.1"
    s.SSID = "Yard 2"
    s.Key = "k2"
    s.IpAddressWiFi = "192.168.8.31"
    s.MaskWiFi = "255.255.255.0"
    s.GatewayWiFi = "192.168.8.2"
    s.PortWiFi = 5005
    Expect s, "SetWifi", 0
    s.SSID = ""
    Expect s, "GetWiFi", 0
    Check "SSID after SetWifi", s.SSID, "Yard 2"
    Check "Key after SetWifi", s.Key, "k2"
    Check "IpAddressWiFi after SetWifi", s.IpAddressWiFi, "192.168.8.31"
    Check "MaskWiFi after SetWifi", s.MaskWiFi, "255.255.255.0"
    Check "GatewayWiFi after SetWifi", s.GatewayWiFi, "192.168.8.2"
    Check "PortWiFi after SetWifi", s.PortWiFi, 5005

    Expect s, "GetWiFiAP", 0
    Check "ApIpAddressWiFi", s.ApIpAddressWiFi, "192.168.4.1"
    s.ApIpAddressWiFi = "192.168.4.9"
    Expect s, "SetWiFiAP", 0
    s.ApIpAddressWiFi = ""
    Expect s, "GetWiFiAP", 0
    Check "ApIpAddressWiFi after SetWiFiAP", s.ApIpAddressWiFi, "192.168.4.9"
    ' SetWiFiAP sends the station settings back as they were.
    Expect s, "GetWiFi", 0
    Check "IpAddressWiFi kept by SetWiFiAP", s.IpAddressWiFi, "192.168.8.31"

    Check "Connection", s.Connection, text
    Expect s, "CloseConnection", 0
    ' After the close: TCP has no connection to send on (1); the serial
    ' port is closed, so the send goes nowhere and no reply comes (2).
    If serial Then
        Expect s, "ReadWeight", 2
    Else
        Expect s, "ReadWeight", 1
    End If
End Sub

Session args(1), False

' ---- the faulty scale: refusals, error replies, silence
Set s = CreateObject("OstrelPesolink.Scales")
s.Connection = args(2)
Expect s, "OpenConnection", 0
Expect s, "ReadWeight", 17   ' error reply with code 17: passed on
Expect s, "ReadWeight", 7    ' error reply with code 5: unrecognised
Expect s, "ReadWeight", 2    ' error reply with code 3: no valid reply
Expect s, "ReadWeight", 0
Expect s, "GetTare", 2       ' no reply in time
s.TareWeight = 10
Expect s, "SetTare", 5       ' refused
Expect s, "SetZero", 5       ' refused
s.Name = "Other"
Expect s, "SetName", 5       ' refused
Expect s, "GetEthernet", 4   ' interface error of the Ethernet commands
Expect s, "SetEthernet", 4
Expect s, "GetWiFi", 4       ' interface error of the Wi-Fi commands
Expect s, "SetWifi", 4
Expect s, "GetWiFiAP", 4
Expect s, "SetWiFiAP", 4
Expect s, "CloseConnection", 0
Finish
