<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<!-- The English texts of the user interface. Keys are looked up in any context. -->
<context>
    <name></name>
    <message>
        <source>IDS_BACKING_UP_MESSAGES</source>
        <translation>Backing up Messages...</translation>
    </message>
    <message>
        <source>IDS_CACHING_BACKUP_FILE_%1</source>
        <translation>Loading %1...</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUNDCONTACT_KEYWORD_%0</source>
        <translation>Find no contact with keyword %1.</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUNDSMS_KEYWORD_%0</source>
        <translation>Find no Message with keyword %1.</translation>
    </message>
    <message>
        <source>IDS_CAN_NOT_FOUND_AND_MESSAGES</source>
        <translation>Can't find any Message.</translation>
    </message>
    <message>
        <source>IDS_CLEAR_CACHE</source>
        <translation>Clear Cache files</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_SEL_MESSAGES</source>
        <translation>Confirm to delete selected Messages?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_THIS_CHAT</source>
        <translation>Confirm to delete Messages with this contact?</translation>
    </message>
    <message>
        <source>IDS_CONFIRM_DEL_THIS_LOCALDB</source>
        <translation>Confirm to delete this database?</translation>
    </message>
    <message>
        <source>IDS_DELETING_LOCAL_DB_MESSAGES</source>
        <translation>Deleting Messages...</translation>
    </message>
    <message>
        <source>IDS_DEL_LOCALDB_SUC</source>
        <translation>Successfully deleted database.</translation>
    </message>
    <message>
        <source>IDS_ENTER_PASSWORD</source>
        <translation>Enter password</translation>
    </message>
    <message>
        <source>IDS_EXPORTING_MESSAGES_TO_FILE</source>
        <translation>Exporting Messages...</translation>
    </message>
    <message>
        <source>IDS_EXTRACTING_MEDIA_FILES</source>
        <translation>Extracting attachments...</translation>
    </message>
    <message>
        <source>IDS_INVALID_LOCALDB_NAME</source>
        <translation>Invalid Local Database name(can't contain \ / : * ? &quot; &lt; &gt; |).</translation>
    </message>
    <message>
        <source>IDS_INVALID_PASSWORD</source>
        <translation>Invalid password.</translation>
    </message>
    <message>
        <source>IDS_LOADING_IOS_WHATSAPP_DATA</source>
        <translation>Loading WhatsApp Messages from iPhone...</translation>
    </message>
    <message>
        <source>IDS_LOADING_ITUNES_BACKUP</source>
        <translation>Loading data from iTunes Backup...</translation>
    </message>
    <message>
        <source>IDS_LOAD_BK_EXISTS</source>
        <translation>This iTunes Backup has been listed on the left.</translation>
    </message>
    <message>
        <source>IDS_MI_ABOUT</source>
        <translation>About</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_ALL</source>
        <translation>Backup Messages</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_CHAT</source>
        <translation>Backup Messages with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_SEL</source>
        <translation>Backup selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_BACKUP_TOOLBAR</source>
        <translation>Backup Messages</translation>
    </message>
    <message>
        <source>IDS_MI_CHECK_UPDATE</source>
        <translation>Check for Update</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_ALL</source>
        <translation>Transfer Messages from Database to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_CHAT</source>
        <translation>Transfer Messages with this Contact to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_SEL</source>
        <translation>Transfer selected Messages to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DB2I_TOOLBAR</source>
        <translation>Transfer Messages from Database to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_ALL</source>
        <translation>Delete Messages</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_CHAT</source>
        <translation>Delete Messages with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_SEL</source>
        <translation>Delete selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_DELETE_TOOLBAR</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>IDS_MI_EXIT</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_ALL</source>
        <translation>Export Messages to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_CHAT</source>
        <translation>Export Messages with this Contact to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_SEL</source>
        <translation>Export selected Messages to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXPORT_TOOLBAR</source>
        <translation>Export Messages to File</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_All</source>
        <translation>Extract Messages Attachments</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_CHAT</source>
        <translation>Extract Attachments from Messages with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_SEL</source>
        <translation>Export Attachments from selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_EXTRACT_MEDIA_TOOLBAR</source>
        <translation>Extract Attachments</translation>
    </message>
    <message>
        <source>IDS_MI_FEEDBACK</source>
        <translation>Feedback and Support</translation>
    </message>
    <message>
        <source>IDS_MI_HELP</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>IDS_MI_HOME</source>
        <translation>Home</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_ALL</source>
        <translation>Transfer Messages from iPhone to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_CHAT</source>
        <translation>Transfer Messages with this Contact to other iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_SEL</source>
        <translation>Transfer selected Messages to other iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_I2I_TOOLBAR</source>
        <translation>Transfer Messages from iPhone to iPhone</translation>
    </message>
    <message>
        <source>IDS_MI_IMPORT_FROM_ITUNES</source>
        <translation>Import from iTunes Backup</translation>
    </message>
    <message>
        <source>IDS_MI_OPEN_DB_FOLDER</source>
        <translation>Open Database Folder</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_ALL</source>
        <translation>Print Messages</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_CHAT</source>
        <translation>Print Messages with this Contact</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_SEL</source>
        <translation>Print selected Messages</translation>
    </message>
    <message>
        <source>IDS_MI_PRINT_TOOLBAR</source>
        <translation>Print Messages</translation>
    </message>
    <message>
        <source>IDS_MI_UNMOUNT_DEVICE</source>
        <translation>Disconnect Device</translation>
    </message>
    <message>
        <source>IDS_NO_BACKUP_LISTED_THERE_CLICK_&lt;a href=&quot;#&quot;&gt;Here&lt;/a&gt;_ADD</source>
        <translation>Can't find your iTunes Backup on the list? Please manually import it by clicking &lt;a href=&quot;#&quot;&gt;HERE&lt;/a&gt;.</translation>
    </message>
    <message>
        <source>IDS_PLEASE_ENTER_PASSWORD_TO_LOAD_BACKUP</source>
        <translation>This iTunes Backup is encrypted. Please enter password:</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_DATABASE_OR_INPUT_NEW_NAME</source>
        <translation>Select one Database or enter a new Database name</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_ONE_DATASOURCE</source>
        <translation>Need to select a Device to continue.</translation>
    </message>
    <message>
        <source>IDS_PLEASE_SELECT_ONE_ITUNES_BACKUP</source>
        <translation>Need to select an iTunes Backup to continue.</translation>
    </message>
    <message>
        <source>IDS_PRINT_MESSAGES</source>
        <translation>Print Messages</translation>
    </message>
    <message>
        <source>IDS_PWD_IS_NULL</source>
        <translation>Password is required.</translation>
    </message>
    <message>
        <source>IDS_RESTORING_MESSAGES_TO_IOS</source>
        <translation>Transferring WhatsApp messages to iPhone...</translation>
    </message>
    <message>
        <source>IDS_ROOT_DEVICE</source>
        <translation>Devices</translation>
    </message>
    <message>
        <source>IDS_ROOT_LOCALDB</source>
        <translation>Local Databases</translation>
    </message>
    <message>
        <source>IDS_SELECT_AN_ITUNES_BACKUP_TO_LOAD</source>
        <translation>Please select an iTunes Backup to load.</translation>
    </message>
    <message>
        <source>IDS_SEL_EXPORT_MESSAGES_PATH</source>
        <translation>Please select Save Path for messages.</translation>
    </message>
    <message>
        <source>IDS_SEL_ONE_IOS_DEVICE</source>
        <translation>Please select an iPhone:</translation>
    </message>
    <message>
        <source>IDS_SUC_BACKUP_%1_MESSAGES</source>
        <translation>Successfully backup %1 Messages.</translation>
    </message>
    <message>
        <source>IDS_SUC_CLEAR_CACHE</source>
        <translation>Successfully cleared cache files.</translation>
    </message>
    <message>
        <source>IDS_SUC_DELETE_%1_MESSAGES</source>
        <translation>Successfully deleted %1 Messages.</translation>
    </message>
    <message>
        <source>IDS_SUC_DEL_CHAT_MESSAGES</source>
        <translation>Successfully deleted Messages with this contact.</translation>
    </message>
    <message>
        <source>IDS_SUC_EXPORT_%1_MMS</source>
        <translation>Successfully exported %1 Messages.</translation>
    </message>
    <message>
        <source>IDS_SUC_EXTRACT_MEDIA_FILES_TO_%1</source>
        <translation>Successfully extracted attachments to %1.</translation>
    </message>
    <message>
        <source>IDS_TITLE_SELECT_ONE_DEVICE_TO_TRANSFER</source>
        <translation>Please select a Device.</translation>
    </message>
    <message>
        <source>IDS_TITLE_SEL_OUTPUT_FOLDER_EXTRACT_MEDIA_FILES</source>
        <translation>Please select Save Path for media files.</translation>
    </message>
</context>
</TS>
