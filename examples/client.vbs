' Reads a scale through the OstrelPesolink driver, late bound.
'
'   cscript //nologo client.vbs CONNECTION [CONNECTION ...]
'
' CONNECTION is a serial port (COM5) or a TCP endpoint (127.0.0.1:5001).
' Every function member returns a result code: 0 is success, 1 no usable
' connection, 2 no reply in time, 5 refused by the scale, others are the
' scale's own error codes. Values are read from properties afterwards.
' A failure raised inside the driver (not a result code) stops the script
' with the driver's message.
Option Explicit

Dim args, i
Set args = WScript.Arguments
If args.Count = 0 Then
    WScript.Echo "usage: cscript //nologo client.vbs COM5|127.0.0.1:PORT ..."
    WScript.Quit 2
End If

Dim failures
failures = 0
For i = 0 To args.Count - 1
    ReadScale args(i)
Next
WScript.Quit failures

' Prints the result code of one call and counts a failure.
Sub Report(what, code)
    WScript.Echo "  " & what & ": result " & code
    If code <> 0 Then failures = failures + 1
End Sub

Sub ReadScale(connection)
    Dim scales, code
    Set scales = CreateObject("OstrelPesolink.Scales")
    WScript.Echo "Scale at " & connection
    scales.Connection = connection
    code = scales.OpenConnection
    Report "OpenConnection", code
    If code <> 0 Then Exit Sub
    ' The line setting the scale answered at (0 on TCP).
    WScript.Echo "  line: " & scales.BaudRate & " baud, parity code " & scales.Parity

    code = scales.ReadWeight
    Report "ReadWeight", code
    If code = 0 Then
        WScript.Echo "    weight " & scales.Weight & ", division " & scales.Division & _
            ", stable " & scales.Stable & ", net " & scales.NetIndication & ", zero " & scales.ZeroIndication
    End If

    code = scales.GetTare
    Report "GetTare", code
    If code = 0 Then WScript.Echo "    tare " & scales.TareWeight

    code = scales.GetName
    Report "GetName", code
    If code = 0 Then WScript.Echo "    scale " & scales.ScalesID & " """ & scales.Name & """"

    code = scales.GetEthernet
    Report "GetEthernet", code
    If code = 0 Then
        WScript.Echo "    ethernet " & scales.IpAddress & " mask " & scales.Mask & _
            " gateway " & scales.Gateway & " port " & scales.PortEthernet
    End If

    code = scales.GetWiFi
    Report "GetWiFi", code
    If code = 0 Then
        WScript.Echo "    wi-fi """ & scales.SSID & """ " & scales.IpAddressWiFi & " mask " & scales.MaskWiFi & _
            " gateway " & scales.GatewayWiFi & " port " & scales.PortWiFi
    End If

    code = scales.GetWiFiAP
    Report "GetWiFiAP", code
    If code = 0 Then
        WScript.Echo "    access point " & scales.ApIpAddressWiFi & " """ & scales.ApSSID & """ key " & scales.ApKey
    End If

    Report "CloseConnection", scales.CloseConnection
End Sub
