# Writes the sample pages of the HTML parser tests and benchmark into the
# current directory (samples/pages/). Deterministic: the same seed each run.
import random
random.seed(7)

def head(template, title):
    return f'''<!DOCTYPE HTML PUBLIC "-//W3C//DTD HTML 4.01 Transitional//EN" "http://www.w3.org/TR/html4/loose.dtd">
<!-- Copyright (c) 2006 Microsoft Corporation.  All rights reserved. -->
<!-- OwaPage = ASP.{template} -->
<html dir="ltr" xmlns:v="urn:schemas-microsoft-com:vml">
<head>
<meta http-equiv="Content-Type" content="text/html; charset=utf-8">
<meta http-equiv="X-UA-Compatible" content="IE=EmulateIE7">
<title>{title}</title>
<link type="text/css" rel="stylesheet" href="8.1.393.1/themes/base/premium.css">
<link type="text/css" rel="stylesheet" href="8.1.393.1/themes/base/csssprites.css">
<style type="text/css">
 .hd {{ display:none }} td.att > span {{ color:#333 }}
</style>
<script type="text/javascript">
var a_fRTL = 0; var a_sUsr = "user@contoso.com"; var a_iST = 1;
function shwAtt(i) {{ if (i < 0 || i > 10) return; var o = document.getElementById("att" + i); }}
var g_sDir = "<div>"; // markup inside a script string
</script>
<script type="text/javascript" src="8.1.393.1/scripts/premium/uglobal.js"></script>
<script type="text/javascript" src="8.1.393.1/scripts/premium/readmessage.js"></script>
<%-- server side remark --%>
</head>
'''

WORDS = "the quarterly report meeting agenda please review attached documents before thursday budget forecast team lunch project status update".split()
def text(n):
    return " ".join(random.choice(WORDS) for _ in range(n))

def attachments(n, basic=False):
    out = ['<div id="divAtt" class="attCntnr">']
    for i in range(n):
        ext = random.choice(["docx","xlsx","pdf","txt","zip","pptx"])
        name = f"Report_{i}_{random.randint(100,999)}.{ext}"
        if basic:
            out.append(f'<tr><td class="att"><img src="8.1.393.1/themes/base/{ext}.gif" alt=""><a href="attachment.ashx?attach=1&amp;id=RgAAAAB{i}x&amp;attid0=BAAAAAAA{i}&amp;attcnt=1" target=_blank onclick="return onClkAtt(this);">{name}</a> <span class=sz>({random.randint(10,900)} KB)</span></td></tr>')
        else:
            out.append(f'<span id="spnAtmt" tabindex="-1" level="3" attid="BAAAAAAA{i}" _attname="{name}"><img src="8.1.393.1/themes/base/{ext}.gif"><a id="lnkAtmt" href="#" title="{name}" onclick="shwAtt({i}); return false;" _fIsCtx="1">{name}</a><span class="attSz">&nbsp;({random.randint(10,900)} KB)</span></span>;&nbsp;')
    out.append('</div>')
    return "\n".join(out)

def message_body(paras):
    out = ['<div id="divBdy" class="bdy">', '<div class="WordSection1">']
    for i in range(paras):
        r = random.random()
        if r < 0.15:
            out.append(f'<p class=MsoNormal><b><span style="font-size:10.0pt;font-family:Tahoma">From:</span></b> <span style=\'font-size:10.0pt\'>{text(5)}</span></p>')
        elif r < 0.25:
            out.append('<table border=0 cellspacing=0 cellpadding=0 width="100%" style="border-collapse:collapse">')
            for _ in range(random.randint(2,5)):
                out.append('<tr>' + "".join(f'<td valign=top style="padding:0in 5.4pt"><p class=MsoNormal>{text(3)}<o:p></o:p></p></td>' for _ in range(3)) + '</tr>')
            out.append('</table>')
        elif r < 0.32:
            out.append(f'<!--[if gte mso 9]><xml><o:shapedefaults v:ext="edit" spidmax="1026" /></xml><![endif]--><p>{text(8)}')
        elif r < 0.38:
            out.append(f'<ul><li>{text(4)}<li>{text(6)}<li>{text(3)}</ul>')
        elif r < 0.42:
            out.append(f'<p align=left>{text(10)} <a href="http://intranet/sites/p{i}?a=1&b=2" target="_blank">link {i}</a> <br/><br>')
        else:
            out.append(f'<p class=MsoNormal style="margin-bottom:12.0pt">{text(random.randint(8,40))}<o:p></o:p></p>')
    out.append('</div></div>')
    return "\n".join(out)

def toolbar():
    items = ["reply","replyall","forward","delete","move","print","prev","next"]
    return '<div id="divToolbarButtons" class="tb">' + "".join(
        f'<a id="{it}" class="tbf" href="#" onclick="return onClkTb(\'{it}\');" title="{it.title()}"><img src="8.1.393.1/themes/base/clear.gif" class="tbImg"><span class="tbLh">{it.title()}</span></a>'
        for it in items) + '</div>'

def premium_read(paras, atts):
    return head("forms_premium_readmessage_aspx", "Project status - Outlook Web Access") + f'''<body class="rdFrmBody" onload="onLd();">
<form name="frm" method="post" action="?ae=Item&amp;t=IPM.Note&amp;id=RgAAAAB1">
<input type="hidden" name="hidid" value="RgAAAAB1">
<input type=hidden name=hidcmdpst value="">
{toolbar()}
<div id="divHdr" class="hdr">
<table class="hdrTbl" cellpadding="0" cellspacing="0">
<tr><td class="lbl">From:</td><td id="tdFrm"><span id="spnFrom" class="rwRRO" _ao="1">Jane Doe</span></td></tr>
<tr><td class="lbl">To:</td><td><span class="rwRRO">John Smith</span>; <span class="rwRRO">Team</span></td></tr>
<tr><td class="lbl">Attachments:</td><td class="att">{attachments(atts)}</td></tr>
</table>
</div>
{message_body(paras)}
<% Response.Write("server tag") %>
<![CDATA[ <b>not a tag</b> ]]>
<![cdata[ <i>not a tag either</i> ]]>
</form>
<script type="text/javascript">
var a_sAttId = "BAAAAAAA0"; if (a_iST < 2 && a_fRTL > -1) {{ init(); }}
</script>
</body>
</html>
'''

def basic_read(paras, atts):
    return head("forms_basic_readmessage_aspx", "Budget - Outlook Web Access Light") + f'''<BODY class="owaLgnBdy">
<FORM name="frmRdMsg" method="POST" action="?ae=PreFormAction&a=Reply">
<TABLE class="w100" cellpadding=0 cellspacing=0>
<TR><TD class="tbhd" colspan=2><A href="#" onClick="return onClkTb('reply');" id="lnkHdrrply"><IMG src="8.1.393.1/themes/base/reply.gif" alt="Reply">Reply</A></TD></TR>
<TR><TD class="hdr">Subject:</TD><TD class="hdr"><H1 class="bld">Budget forecast</H1></TD></TR>
<TR><TD class="hdr">Attachments:</TD><TD><TABLE cellpadding=0 cellspacing=0 class="attTbl">
{attachments(atts, basic=True)}
</TABLE></TD></TR>
<TR><TD colspan=2><A href="#" onclick="return onClkTb('attachfile');" id="lnkAttach">Attach file</A></TD></TR>
</TABLE>
{message_body(paras)}
<INPUT type="hidden" name="hidpnst" value="">
</FORM>
</BODY>
</HTML>
'''

def malformed():
    return head("forms_premium_editmessage_aspx", "Malformed") + '''<body>
<div id=a class='x' data-x=1 checked>
<p>unclosed paragraph <p>another <b>bold <i>italic</b> crossed</i>
<div title="a > b">quoted greater-than</div>
<div a="1"b="2">missing blank</div>
<span a=>empty value</span>
<img src=x.gif alt="unterminated>
<td>stray cell</td></tr>
<a href="x">first <a href="y">second</a>
< notatag > <1bad> <> </ spaced > </div >
<!-- comment with <b>tag</b> and --> <!---->
<!DOCTYPE inner> <!ELEMENT x (y)> <!whatever>
<?xml version="1.0"?> <?php echo 1; ?> <?xmlfoo bar?>
<% if (a < b) { %> <b>inside server</b> <% } %>
<SCRIPT>if (a<b && c>d) document.write("</SCR"+"IPT>");</SCRIPT>
<table><tr><td>1<td>2<tr><td>3</table>
<ul><li>a<ul><li>nested</ul><li>b</ul>
<div/><br/><foo/>
<p>last
</body></html>
'''

pages = {
    "premium_readmessage.html": premium_read(120, 6),
    "premium_readmessage_long.html": premium_read(900, 25),
    "basic_readmessage.html": basic_read(200, 8),
    "premium_editmessage_malformed.html": malformed(),
}
for n, s in pages.items():
    open(n, "w", newline="").write(s.replace("\n", "\r\n"))
    print(n, len(s))
