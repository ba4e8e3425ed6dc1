// The module's resources: the registry scripts, the toolbox bitmap, the project name and the
// version record.
// They are linked into the module's ".kwz_rsrc" section, where registration and tools read
// them from the file.
#include "control/resource.h"
#include "platform/resource_section.h"

namespace {

KWZ_RESOURCE(kAppScript, "REGISTRY", IDR_KWZ_SCREENRECEIVERAPP, R"(HKCR
{
	NoRemove AppID
	{
		'%APPID%' = s 'KWZ_ScreenReceiver'
		'KWZ_ScreenReceiver.DLL'
		{
			val AppID = s '%APPID%'
		}
	}
}
)");

KWZ_RESOURCE(kClassScript, "REGISTRY", IDR_KWZ_SCREENRECEIVER, R"(HKCR
{
	KWZ_ScreenReceiver.KWZ_ScreenReceiver.1 = s 'KWZ_ScreenReceiver Class'
	{
		CLSID = s '{4B575A10-5C52-4E63-9A31-0D7E6F5A1001}'
	}
	KWZ_ScreenReceiver.KWZ_ScreenReceiver = s 'KWZ_ScreenReceiver Class'
	{
		CLSID = s '{4B575A10-5C52-4E63-9A31-0D7E6F5A1001}'
		CurVer = s 'KWZ_ScreenReceiver.KWZ_ScreenReceiver.1'
	}
	NoRemove CLSID
	{
		ForceRemove {4B575A10-5C52-4E63-9A31-0D7E6F5A1001} = s 'KWZ_ScreenReceiver Class'
		{
			ProgID = s 'KWZ_ScreenReceiver.KWZ_ScreenReceiver.1'
			VersionIndependentProgID = s 'KWZ_ScreenReceiver.KWZ_ScreenReceiver'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			val AppID = s '%APPID%'
			ForceRemove 'Control'
			'ToolboxBitmap32' = s '%MODULE%, 102'
			'MiscStatus' = s '0'
			{
				'1' = s '%OLEMISC%'
			}
			'TypeLib' = s '{4B575A10-5C52-4E63-9A31-0D7E6F5A1004}'
			'Version' = s '1.0'
		}
	}
}
)");

// The picture that containers show for the control in their toolbox (the registry's
// ToolboxBitmap32 names it): a monitor showing a desktop with a window on it, light grey
// around it like the toolbox's own face. One hex digit per pixel, a colour of the 16-colour
// palette: 0 black, 4 dark blue, 6 teal, 7 light grey, 8 dark grey, A green, F white. The
// formatter is kept off so that each row of the picture stays on a line of its own.
// clang-format off
constexpr char kToolboxPicture[16][18] = {
    "77777777777777777",
    "70000000000000007",
    "70888888888888807",
    "70866666666666807",
    "70864444444466807",
    "70864FFFFFF466807",
    "70864FFFFFF466807",
    "70864FFFFFF466807",
    "70864444444466807",
    "70866666666666807",
    "70877777777777807",
    "7088888888888A807",
    "70000000000000007",
    "77777770807777777",
    "77770888888807777",
    "77770000000007777",
};
// clang-format on

KWZ_RESOURCE(kToolboxBitmap, "#2", IDB_KWZ_SCREENRECEIVER,
             kwz_platform::MakeBitmap16(kToolboxPicture));

// RT_STRING entries hold one string each, by its own identifier.
KWZ_RESOURCE(kProjectName, "#6", IDS_PROJNAME, "KWZ_ScreenReceiver");

KWZ_RESOURCE(kVersion, "#16", VS_VERSION_INFO,
             "CompanyName=KWZ\n"
             "FileDescription=Screen Receiver Module\n"
             "FileVersion=5.1.0.1\n"
             "InternalName=KWZ_ScreenReceiver\n"
             "OriginalFilename=KWZ_ScreenReceiver.DLL\n"
             "ProductName=Screen Receiver Module\n"
             "ProductVersion=5.1.0.1\n");

}  // namespace
