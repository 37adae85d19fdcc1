<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>Command</name>
    <message>
        <source>Open a scene folder
Open</source>
        <translation>既存のﾌｧｲﾙを開く
開く</translation>
    </message>
    <message>
        <source>Save the active document
Save</source>
        <translation>作業中のﾌｧｲﾙを上書きして保存
保存</translation>
    </message>
    <message>
        <source>Load the scene
Scene load</source>
        <translation>シーン読み込み
シーン読み込み</translation>
    </message>
    <message>
        <source>Start or stop rendering
Render</source>
        <translation>レンダリング
レンダリング</translation>
    </message>
    <message>
        <source>Save the viewpoint
Save viewpoint</source>
        <translation>視点の保存
視点の保存</translation>
    </message>
    <message>
        <source>Load the viewpoint
Load viewpoint</source>
        <translation>視点の読み込み
視点の読み込み</translation>
    </message>
</context>
<context>
    <name>lumeno::app::CLumeno_wndView</name>
    <message>
        <source>Rendering: exact mode, 1 thread</source>
        <translation>レンダリング中: 厳密モード, 1 スレッド</translation>
    </message>
    <message>
        <source>Rendering: parallel mode, 1 thread</source>
        <translation>レンダリング中: 並列モード, 1 スレッド</translation>
    </message>
    <message>
        <source>Rendering: parallel mode, %1 threads</source>
        <translation>レンダリング中: 並列モード, %1 スレッド</translation>
    </message>
    <message>
        <source>%1; Render continues from pass %2</source>
        <translation>%1; レンダリングはパス %2 から続きます</translation>
    </message>
    <message>
        <source>… and %1 more</source>
        <translation>… ほか %1 件</translation>
    </message>
    <message>
        <source>cannot allocate a %1 x %2 image; rendering is unavailable</source>
        <translation>%1 x %2 の画像を確保できないため、レンダリングできません</translation>
    </message>
    <message>
        <source>Rows traced in this pass: %1 of %2</source>
        <translation>このパスでトレース済みの行: %1 / %2</translation>
    </message>
    <message>
        <source>the scene load failed: %1; rendering is unavailable</source>
        <translation>シーンの読み込みに失敗したため、レンダリングできません: %1</translation>
    </message>
</context>
<context>
    <name>lumeno::app::CMainFrame</name>
    <message>
        <source>Untitled</source>
        <translation>無題</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>レディ</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ﾌｧｲﾙ(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;New</source>
        <translation>新規作成(&amp;N)</translation>
    </message>
    <message>
        <source>Create a new document</source>
        <translation>新規にﾌｧｲﾙを作成</translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation>開く(&amp;O)...</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>上書き保存(&amp;S)</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>ｱﾌﾟﾘｹｰｼｮﾝの終了(&amp;X)</translation>
    </message>
    <message>
        <source>Quit the application</source>
        <translation>ｱﾌﾟﾘｹｰｼｮﾝを終了</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>編集(&amp;E)</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>元に戻す(&amp;U)</translation>
    </message>
    <message>
        <source>Cu&amp;t</source>
        <translation>切り取り(&amp;T)</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>ｺﾋﾟｰ(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Paste</source>
        <translation>貼り付け(&amp;P)</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>表示(&amp;V)</translation>
    </message>
    <message>
        <source>&amp;Status Bar</source>
        <translation>ｽﾃｰﾀｽ ﾊﾞｰ(&amp;S)</translation>
    </message>
    <message>
        <source>Show or hide the status bar</source>
        <translation>ｽﾃｰﾀｽ ﾊﾞｰの表示/非表示</translation>
    </message>
    <message>
        <source>Load &amp;Messages...</source>
        <translation>読み込みﾒｯｾｰｼﾞ(&amp;M)...</translation>
    </message>
    <message>
        <source>Show the messages of loading and rendering</source>
        <translation>読み込みとレンダリングのﾒｯｾｰｼﾞを表示</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ﾍﾙﾌﾟ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About %1...</source>
        <translation>ﾊﾞｰｼﾞｮﾝ情報 %1(&amp;A)...</translation>
    </message>
    <message>
        <source>Display program information, version number and copyright</source>
        <translation>ﾌﾟﾛｸﾞﾗﾑ情報、ﾊﾞｰｼﾞｮﾝ、著作権を表示</translation>
    </message>
    <message>
        <source>Toolbar</source>
        <translation>ﾂｰﾙ ﾊﾞｰ</translation>
    </message>
    <message>
        <source>&amp;Toolbar</source>
        <translation>ﾂｰﾙ ﾊﾞｰ(&amp;T)</translation>
    </message>
    <message>
        <source>Show or hide the toolbar</source>
        <translation>ﾂｰﾙ ﾊﾞｰの表示/非表示</translation>
    </message>
    <message>
        <source>Recent Folders</source>
        <translation>最近使ったﾌｫﾙﾀﾞ</translation>
    </message>
    <message>
        <source>Open this folder</source>
        <translation>このﾌｫﾙﾀﾞを開く</translation>
    </message>
    <message>
        <source>Open a Scene Folder</source>
        <translation>シーンのﾌｫﾙﾀﾞを開く</translation>
    </message>
    <message>
        <source>%1
is not a folder.</source>
        <translation>%1
はﾌｫﾙﾀﾞではありません。</translation>
    </message>
    <message>
        <source>%1
holds no scene/scene.txt, so it cannot be opened.</source>
        <translation>%1
には scene/scene.txt がないため、開けません。</translation>
    </message>
    <message>
        <source>%1
cannot be made the working folder (no permission to enter it).</source>
        <translation>%1
を作業ﾌｫﾙﾀﾞにできません (ｱｸｾｽ権がありません)。</translation>
    </message>
    <message>
        <source>The working folder stays %1.</source>
        <translation>作業ﾌｫﾙﾀﾞは %1 のままです。</translation>
    </message>
    <message>
        <source>The document holds no data</source>
        <translation>文書にはデータがありません</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>%1 のﾊﾞｰｼﾞｮﾝ情報</translation>
    </message>
    <message>
        <source>lumeno Version %1</source>
        <translation>lumeno ﾊﾞｰｼﾞｮﾝ %1</translation>
    </message>
    <message>
        <source>Progressive path tracer</source>
        <translation>プログレッシブ パス トレーサ</translation>
    </message>
    <message>
        <source>Load Messages</source>
        <translation>読み込みﾒｯｾｰｼﾞ</translation>
    </message>
    <message>
        <source>Loading the scene…</source>
        <translation>シーン読み込み中…</translation>
    </message>
    <message>
        <source>Loading the scene… %1 s</source>
        <translation>シーン読み込み中… %1 秒</translation>
    </message>
    <message>
        <source>Wait until the work under way has finished</source>
        <translation>実行中の処理が終わるまでお待ちください</translation>
    </message>
    <message>
        <source>Closing once the work under way has stopped…</source>
        <translation>実行中の処理が止まりしだい終了します…</translation>
    </message>
</context>
</TS>
